// SPDX-License-Identifier: GPL-3.0-or-later
// Wildcard masks come from the user's typing: no mask, however odd, may
// crash or hang the matcher. Input: mask, a NUL byte, text (UTF-8).
#include "host/Error.h"
#include "inventory/Wildcard.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    const void *nul = std::memchr(bytes, 0, size);
    const size_t maskSize = nul ? size_t(static_cast<const char *>(nul) - bytes) : size;
    const QString mask = QString::fromUtf8(bytes, qsizetype(maskSize));
    const QString text = nul ? QString::fromUtf8(bytes + maskSize + 1, qsizetype(size - maskSize - 1))
                             : QString();
    try {
        const kelvane::Wildcard wildcard(mask);
        const bool matched = wildcard.matches(text);
        // A mask without special characters matches its own text.
        if (!mask.contains(u'*') && !mask.contains(u'?') && !mask.contains(u'[') && !matched
            && mask == text)
            __builtin_trap();
    } catch (const kelvane::Error &error) {
        if (!error.message().contains(QLatin1StringView(" is an invalid mask at (")))
            __builtin_trap();
    }
    return 0;
}
