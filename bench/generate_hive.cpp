// SPDX-License-Identifier: GPL-3.0-or-later
// Makes a Windows registry hive from a Wine registry file's Software tree:
// the same entries as the Wine benchmarks, in the SOFTWARE hive's format.
// Usage: kelvane-bench-generate-hive SYSTEM_REG OUT_HIVE
#include "CompactHive.h"
#include "host/Error.h"
#include "registry/WineRegistryFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <cstdio>
#include <exception>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: kelvane-bench-generate-hive SYSTEM_REG OUT_HIVE\n");
        return 2;
    }
    try {
        const auto wine = kelvane::WineRegistryFile::open(args[1]);
        const QByteArray hive = kelvane::test::compactHive(kelvane::test::hiveKeyFrom(*wine, u"Software"_s, u"ROOT"_s));
        QFile out(args[2]);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(hive) != hive.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(args[2]));
            return 1;
        }
    } catch (const kelvane::Error &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
