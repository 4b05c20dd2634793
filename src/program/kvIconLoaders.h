// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kvIcon.h"

#include <QList>
#include <QPointer>

#include <memory>

class QLabel;

namespace kelvane {

// The icon loaders a panel has started. Each runs on its own and frees
// itself when done; whatever is still running when the owner goes is asked
// to stop at its next icon source, waited for and deleted there, so that no
// loader thread outlives the window it draws into or touches Qt's globals
// while the application ends.
class TIconLoaders
{
public:
    TIconLoaders() = default;
    ~TIconLoaders();
    TIconLoaders(const TIconLoaders &) = delete;
    TIconLoaders &operator=(const TIconLoaders &) = delete;

    // Starts a loader (see TIconLoader) and keeps track of it.
    TIconLoader *start(std::shared_ptr<const TAppItem> item, const Target &target, QLabel *targetIcon,
                       bool useFallback);

private:
    QList<QPointer<TIconLoader>> m_loaders;
};

} // namespace kelvane
