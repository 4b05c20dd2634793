// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/Error.h"
#include "host/IniFile.h"

#include <cstdint>
#include <cstdlib>

using kelvane::TIniFile;

// Reads arbitrary bytes, then checks that a write lands where a read finds it
// and that the written file reads back the same.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    TIniFile ini = TIniFile::fromBytes(bytes);
    const auto sections = ini.sections();
    for (const auto &section : sections) {
        for (const auto &entry : section.entries) {
            if (ini.value(section.name, entry.key) != entry.value)
                std::abort();
            (void)ini.readInteger(section.name, entry.key, 0);
        }
    }
    const QByteArray before = ini.toBytes();
    if (TIniFile::fromBytes(before).sections().size() != sections.size())
        std::abort();
    try {
        const QByteArray section = sections.isEmpty() ? QByteArray("s") : sections.first().name;
        ini.writeValue(section, "fuzzKey", "v=1");
        if (ini.value(section, "FUZZKEY") != QByteArray("v=1"))
            std::abort();
        if (TIniFile::fromBytes(ini.toBytes()).value(section, "fuzzkey") != QByteArray("v=1"))
            std::abort();
    } catch (const kelvane::Error &) {
        // A section name read from the file that cannot be written back.
    }
    return 0;
}
