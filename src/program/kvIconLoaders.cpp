// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvIconLoaders.h"

namespace kelvane {

TIconLoaders::~TIconLoaders()
{
    for (const QPointer<TIconLoader> &loader : std::as_const(m_loaders)) {
        if (loader)
            loader->requestInterruption();
    }
    for (const QPointer<TIconLoader> &loader : std::as_const(m_loaders)) {
        if (loader) {
            loader->wait();
            // Its pending hand-over and deferred deletion go with it.
            delete loader.data();
        }
    }
}

TIconLoader *TIconLoaders::start(std::shared_ptr<const TAppItem> item, const Target &target, QLabel *targetIcon,
                                 bool useFallback)
{
    m_loaders.removeAll(nullptr);
    auto *loader = new TIconLoader(std::move(item), target, targetIcon, useFallback);
    m_loaders.append(loader);
    return loader;
}

} // namespace kelvane
