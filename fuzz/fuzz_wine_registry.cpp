// SPDX-License-Identifier: GPL-3.0-or-later
// Parses arbitrary bytes as a Wine registry file, reads every key and value
// (one by one and in one pass, which must agree), edits one key and
// serialises, so that the lazy value parser and the writer both see the input.
#include "host/Error.h"
#include "registry/WineRegistryFile.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <vector>

using namespace Qt::Literals::StringLiterals;

static void visit(const kelvane::WineRegistryFile &file, const QString &path, int depth)
{
    if (depth > 64)
        return;
    const auto values = file.values(path);
    for (const auto &value : values) {
        if (!file.value(path, value.name))
            { std::fprintf(stderr, "listed value not found\n"); std::abort(); }
    }
    // Read one by one, or all in one pass over the key's lines: the same
    // values as listed, and nothing for a name not there.
    QStringList names;
    for (const auto &value : values)
        names.append(value.name);
    names.append(u"\u0001none"_s);
    std::vector<std::optional<kelvane::RegistryStore::Reading>> many(size_t(names.size()));
    file.readMany(path, std::span<const QString>(names.cbegin(), names.cend()), many.data());
    for (qsizetype i = 0; i < names.size(); ++i) {
        const auto expected = i < values.size() ? std::optional(kelvane::RegistryStore::Reading::of(values[i]))
                                                : std::nullopt;
        if (many[size_t(i)] != expected || file.read(path, names[i]) != expected)
            { std::fprintf(stderr, "values read in one pass differ\n"); std::abort(); }
    }
    // A link's subkeys are its target's, already visited where they are:
    // descending through links would visit a tree with links back to its
    // root exponentially often.
    if (file.isLink(path))
        return;
    for (const QString &name : file.subkeyNames(path))
        visit(file, path.isEmpty() ? name : path + u'\\' + name, depth + 1);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        auto file = kelvane::WineRegistryFile::fromBytes(bytes, u"fuzz input"_s);
        if (file->toBytes() != bytes)
            { std::fprintf(stderr, "unchanged output differs\n"); std::abort(); }
        visit(*file, QString(), 0);
        const QStringList top = file->subkeyNames(QString());
        if (!top.isEmpty()) {
            file->setValue(top.constFirst(), kelvane::RegistryValue::fromText(u"Fuzz\u00e9"_s, u"a\"\\b\nc"_s));
            const QByteArray saved = file->toBytes();
            auto again = kelvane::WineRegistryFile::fromBytes(saved, u"fuzz output"_s);
            const auto v = again->value(top.constFirst(), u"fuzz\u00c9"_s);
            if (!v || v->text() != u"a\"\\b\nc"_s)
                { std::fprintf(stderr, "edit not read back\n"); std::abort(); }
        }
    } catch (const kelvane::Error &) {
    }
    return 0;
}
