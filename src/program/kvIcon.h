// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "target/Target.h"

#include <QImage>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QThread>

#include <memory>

class QLabel;

namespace kelvane {

class TAppItem;

// Our own pictures, listed with their menu-picture numbers in
// src/program/kvIcons.qrc (prefix "/icons"): ":/icons/noicon.png" (32 x 32)
// and the nine 16 x 16 popup-menu pictures ":/icons/popup-*.png". They live
// in a static library, so call InitIconResources() before the first use
// (any thread, any number of times).
void InitIconResources();

// Reads the icon of one entry in the background, so the information panel
// shows at once and its 32 x 32 picture fills in when the icon has been read.
//
// The loader starts as soon as it is constructed and frees itself when it
// ends. Whoever starts loaders ends the ones still running before the
// application goes (requestInterruption, wait, delete): a thread must not
// touch Qt's globals while they are torn down. Everything it needs from the
// GUI thread (the entry's icon sources, the drive mapping) is copied in the
// constructor, and the picture is only touched on the GUI thread: the worker
// produces a QImage and posts it to the label. Each loader started for a
// label makes older loaders for that label stale; their results are dropped,
// so a slow loader for an entry no longer shown never overwrites the picture.
class TIconLoader final : public QThread
{
    Q_OBJECT

public:
    // The entry's IconPaths are tried in order; useFallback puts the
    // "no icon" picture in when none of them gives an icon.
    TIconLoader(std::shared_ptr<const TAppItem> item, const Target &target, QLabel *targetIcon, bool useFallback);

    // The size of the information panel's picture.
    static constexpr int IconSize = 32;
    // The dynamic property of the label that holds the newest loader's number.
    static constexpr const char *GenerationProperty = "kelvaneIconGeneration";

    // The "no icon" picture of our own resources.
    static QImage fallbackIcon();

protected:
    void run() override;

private:
    void Execute();
    // Hands an image (null = blank) to the label on the GUI thread, unless a
    // newer loader has been started for it meanwhile.
    void handOver(const QImage &image);

    const QStringList m_iconSources;
    const DriveMap m_drives; // a copy: the loader may outlive the target
    const QPointer<QLabel> m_targetIcon;
    const bool m_useFallback;
    const qulonglong m_generation;
};

} // namespace kelvane
