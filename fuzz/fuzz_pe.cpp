// Icons at several numbers and version strings out of arbitrary bytes.
#include "platform/PeResources.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const int index : {0, 1, 2, -1, -2, -100, -32768, 65535}) {
        if (const auto icon = kelvane::pe::extractIcon(bytes, index)) {
            if (icon->ico.size() < 22)
                __builtin_trap();
        }
    }
    const auto strings = kelvane::pe::versionStrings(bytes, QStringLiteral("040904E4"));
    qsizetype total = 0;
    for (const auto &pair : strings)
        total += pair.first.size() + pair.second.size();
    if (total > qsizetype(size))
        __builtin_trap();
    return 0;
}
