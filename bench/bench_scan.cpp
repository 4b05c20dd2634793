// SPDX-License-Identifier: GPL-3.0-or-later
// Times a full scan of a Wine registry file against the cheap check that
// decides whether a rescan is needed at all.
#include "host/Error.h"
#include "inventory/kvApplication.h"
#include "registry/WineRegistryFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

qint64 median(std::vector<qint64> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

void run(const QStringList &args)
{
    if (args.size() != 2)
        throw kelvane::Error(u"usage: kelvane-bench-scan FILE"_s);
    std::vector<qint64> scans;
    std::shared_ptr<kelvane::WineRegistryFile> store;
    int applications = 0;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer timer;
        timer.start();
        store = kelvane::WineRegistryFile::open(args[1]);
        kelvane::TApplications apps(store);
        apps.LoadFromRegistry();
        scans.push_back(timer.nsecsElapsed());
        applications = apps.ApplicationCount();
    }
    std::vector<qint64> checks;
    checks.reserve(1000);
    int changed = 0;
    for (int i = 0; i < 1000; ++i) {
        QElapsedTimer timer;
        timer.start();
        changed += store->changedOnDisk() ? 1 : 0;
        checks.push_back(timer.nsecsElapsed());
    }
    if (changed != 0)
        throw kelvane::Error(u"%1: changed on disk while being measured"_s.arg(args[1]));
    const qint64 scan = median(scans);
    const qint64 check = std::max<qint64>(median(checks), 1);
    std::printf("applications=%d scan_ms=%.3f check_us=%.3f ratio=%.0f\n", applications, double(scan) / 1e6,
                double(check) / 1e3, double(scan) / double(check));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    try {
        run(app.arguments());
    } catch (const kelvane::Error &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
