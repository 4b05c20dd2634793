// SPDX-License-Identifier: GPL-3.0-or-later
// Loads a Wine registry file and reads every value of every key, timed.
// Usage: bench_wine_registry FILE   (compare with: time wc -l FILE)
#include "host/Error.h"
#include "registry/WineRegistryFile.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

static qsizetype visit(const kelvane::WineRegistryFile &file, const QString &path)
{
    qsizetype count = file.values(path).size();
    for (const QString &name : file.subkeyNames(path)) {
        const QString child = path.isEmpty() ? name : path + u'\\' + name;
        if (!file.isLink(child))
            count += visit(file, child);
    }
    return count;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    try {
        QElapsedTimer timer;
        timer.start();
        auto file = kelvane::WineRegistryFile::open(QString::fromLocal8Bit(argv[1]));
        const qint64 loaded = timer.elapsed();
        const qsizetype values = visit(*file, QString());
        std::printf("load %lld ms, load + every value %lld ms, %lld values\n", static_cast<long long>(loaded),
                    static_cast<long long>(timer.elapsed()), static_cast<long long>(values));
    } catch (const kelvane::Error &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
