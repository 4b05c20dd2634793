// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace kelvane {

// A Wine prefix found on this machine.
struct FoundPrefix
{
    QString path; // the prefix folder, symbolic links resolved
    QString launcher; // who keeps it: "Bottles", "Lutris", "Steam", "Heroic", "PlayOnLinux", "CrossOver", "Wine"
    QString name; // its name there: the bottle's, the game's, "<app id> <game>"; else the folder's
    bool hasRegistry = false; // its system.reg is a regular file (a prefix never started has none)

    bool operator==(const FoundPrefix &) const = default;
};

struct PrefixSearch
{
    QList<FoundPrefix> prefixes; // in the order of the places searched, each folder once
    QStringList notes; // what could not be read, and was skipped
};

// Looks for Wine prefixes where the launchers keep them, below `home`:
// WINEPREFIX (from `environment`) and ~/.wine; Bottles' bottles (also of its
// Flatpak); the prefixes Lutris' game files name; Steam's compatdata of
// every library its libraryfolders.vdf lists; Heroic's Prefixes folder and
// the prefixes its game settings name; PlayOnLinux's and CrossOver's. Only
// folders holding an entry named system.reg count. A place that cannot be
// read is noted and skipped; nothing is ever written.
PrefixSearch findPrefixes(const QString &home, const QProcessEnvironment &environment);

} // namespace kelvane
