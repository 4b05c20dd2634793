#include "language/LngReader.h"
#include "language/kvLanguage.h"

#include <QStringDecoder>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using kelvane::LngReader;

// Reads a language file the way the catalogue does and checks the reader's limits.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const LngReader reader(bytes);
    const bool utf8 = reader.integer("options", "useUTF8", 0) != 0;
    reader.integer("options", "rightToLeft", 0);
    kelvane::LangTable table;
    for (const char *section : {"main", "captions", "strings"}) {
        qsizetype listBytes = 1;
        for (const QByteArray &key : reader.keys(section)) {
            listBytes += key.size() + 1;
            const QByteArray value = reader.value(section, key);
            if (value.size() > LngReader::ValueBufferSize - 1)
                std::abort();
            QStringDecoder keyDecoder("windows-1252");
            QStringDecoder valueDecoder("windows-1252");
            table.setValue(keyDecoder(key), utf8 ? QString::fromUtf8(value) : QString(valueDecoder(value)));
        }
        if (listBytes > LngReader::KeyListBufferSize)
            std::abort();
    }
    for (qsizetype i = 0; i < table.count(); ++i) {
        if (table.valueAt(i).isEmpty() || table.value(table.keyAt(i)) != table.valueAt(i))
            std::abort();
    }
    return 0;
}
