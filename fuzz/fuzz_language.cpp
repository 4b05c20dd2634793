// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/IniFile.h"
#include "language/kvLanguage.h"

#include <QStringDecoder>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using kelvane::TIniFile;

// Reads a language file the way the catalogue does and checks the reader's limits.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    constexpr TIniFile::Rules rules = TIniFile::LanguageFileRules;
    const TIniFile reader = TIniFile::fromBytes(bytes, rules);
    const bool utf8 = reader.readInteger("options", "useUTF8", 0) != 0;
    reader.readInteger("options", "rightToLeft", 0);
    kelvane::LangTable table;
    for (const char *section : {"main", "captions", "strings"}) {
        qsizetype listBytes = 1;
        for (const QByteArray &key : reader.keys(section)) {
            listBytes += key.size() + 1;
            const auto found = reader.value(section, key);
            if (!found)
                std::abort(); // every listed key has a value, if only an empty one
            const QByteArray value = *found;
            if (value.size() > rules.valueBufferSize - 1)
                std::abort();
            QStringDecoder keyDecoder("windows-1252");
            QStringDecoder valueDecoder("windows-1252");
            table.setValue(keyDecoder(key), utf8 ? QString::fromUtf8(value) : QString(valueDecoder(value)));
        }
        if (listBytes > rules.keyListBufferSize)
            std::abort();
    }
    for (qsizetype i = 0; i < table.count(); ++i) {
        if (table.valueAt(i).isEmpty() || table.value(table.keyAt(i)) != table.valueAt(i))
            std::abort();
    }
    return 0;
}
