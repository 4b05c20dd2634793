// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

namespace kelvane {
class HostFile;
}

// Reading icons and version strings out of Windows programs, libraries and
// icon files. Every file is untrusted (any file a registry value names): each
// offset and size is checked against the bytes at hand, loops are bounded by
// the data, and nothing bigger than the input is allocated. A file is never
// mapped nor read whole: its headers, then only the ranges the answer needs,
// each bounded; a file cut short while it is read has no icon and no strings.
namespace kelvane::pe {

// One icon image as a complete single-image .ico file (header, one entry, the
// DIB or PNG data), ready for an image loader; width and height as the icon
// directory gives them (0 there means 256).
struct IconImage
{
    QByteArray ico;
    int width = 0;
    int height = 0;
};

// ExtractIcon numbering: an index of 0 or more counts the icon groups in
// resource order, a negative index names the group whose id is its absolute
// value; an .ico file has its one icon at index 0. Of the chosen icon the
// image nearest 32 x 32 is returned. No icon (or unparsable bytes): nullopt.
std::optional<IconImage> extractIcon(const QByteArray &bytes, int index);
std::optional<IconImage> extractIcon(const HostFile &file, int index);
// The same for a file. A missing, unreadable or non-regular file has no icon.
std::optional<IconImage> extractIconFromFile(const QString &path, int index);

// The key/value pairs of one StringFileInfo block (such as "040904E4") of the
// version resource, in resource order. No resource or no such block: empty.
QList<QPair<QString, QString>> versionStrings(const QByteArray &bytes, const QString &block);
QList<QPair<QString, QString>> versionStrings(const HostFile &file, const QString &block);
// A missing, unreadable or non-regular file has no strings.
QList<QPair<QString, QString>> readVersionStrings(const QString &file,
                                                  const QString &block = QStringLiteral("040904E4"));

} // namespace kelvane::pe
