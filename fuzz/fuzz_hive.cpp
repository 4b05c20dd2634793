// SPDX-License-Identifier: GPL-3.0-or-later
// Opens arbitrary bytes as a Windows registry hive through hivex, reads every
// key and value, and edits one key in memory, so that both Kelvane's checks
// and hivex's reader and writer see the input.
#include "host/Error.h"
#include "registry/HiveRegistryFile.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace Qt::Literals::StringLiterals;

static void visit(const kelvane::HiveRegistryFile &hive, const QString &path, int depth, int &budget)
{
    // A damaged hive may list a key below itself: stop at Windows' depth.
    if (depth > 512 || --budget < 0)
        return;
    for (const auto &value : hive.values(path)) {
        if (!hive.value(path, value.name)) {
            std::fprintf(stderr, "listed value not found\n");
            std::abort();
        }
    }
    for (const QString &name : hive.subkeyNames(path))
        visit(hive, path.isEmpty() ? name : path + u'\\' + name, depth + 1, budget);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        auto hive = kelvane::HiveRegistryFile::fromBytes(bytes, u"fuzz input"_s);
        int budget = 4096;
        visit(*hive, QString(), 0, budget);
        hive->setValue(u"SOFTWARE\\Fuzz"_s, kelvane::RegistryValue::fromText(u"Name\u00e9"_s, u"value"_s));
        const auto read = hive->value(u"SOFTWARE\\fuzz"_s, u"NAME\u00c9"_s);
        if (!read || read->text() != u"value"_s) {
            std::fprintf(stderr, "edit not read back\n");
            std::abort();
        }
    } catch (const kelvane::Error &) {
        // Refused in words: what a damaged hive should get.
    }
    return 0;
}
