// Makes a Windows registry hive from a Wine registry file's Software tree:
// the same entries as the Wine benchmarks, in the SOFTWARE hive's format.
// Usage: kelvane-bench-generate-hive SYSTEM_REG OUT_HIVE
#include "EmptyHive.h"
#include "platform/Error.h"
#include "platform/WineRegistryFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <cstdio>
#include <exception>

using namespace Qt::Literals::StringLiterals;

namespace {

void copyTree(const kelvane::RegistryStore &from, const QString &path, const QString &hivePath,
              kelvane::test::HiveBuilder &to)
{
    to.add(hivePath, from.values(path));
    for (const QString &name : from.subkeyNames(path))
        copyTree(from, path + u'\\' + name, hivePath.isEmpty() ? name : hivePath + u'\\' + name, to);
}

} // namespace

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
        QFile::remove(args[2]);
        kelvane::test::HiveBuilder hive(args[2]);
        copyTree(*wine, u"Software"_s, QString(), hive);
        hive.commit();
    } catch (const kelvane::Error &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
