// SPDX-License-Identifier: GPL-3.0-or-later
// Times the program list's tree build on a large registry: the rebuild from
// the records in memory (filter mode) against one 60 Hz frame, and a full
// refresh (rescan + rebuild) against twice the scan alone, and the rebuilds
// of typing a word into the filter box and erasing it.
// Usage: QT_QPA_PLATFORM=offscreen bench_program REGISTRY_FILE [RUNS]
#include "FakeFrameHost.h"
#include "host/Error.h"
#include "inventory/kvApplication.h"
#include "program/kvUnitProgram.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

double medianMs(std::vector<qint64> samples)
{
    std::sort(samples.begin(), samples.end());
    return double(samples[samples.size() / 2]) / 1e6;
}

// One call plus the painting it causes.
template<typename F>
qint64 timed(F &&f)
{
    QElapsedTimer timer;
    timer.start();
    f();
    QCoreApplication::processEvents();
    return timer.nsecsElapsed();
}

int run(const QStringList &args)
{
    if (args.size() < 2)
        throw kelvane::Error(u"usage: bench_program REGISTRY_FILE [RUNS]"_s);
    const int runs = args.size() > 2 ? std::max(1, args[2].toInt()) : 9;
    kelvane::test::FakeFrameHost host(args[1]);
    kelvane::TkvFrameProgram frame(host);
    frame.resize(460, 368);
    frame.show();
    QCoreApplication::processEvents();

    const qint64 first = timed([&] { frame.EnterForm(nullptr); });
    const int nodes = frame.nodeCount();

    std::vector<qint64> scans, refreshes, rebuilds;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        kelvane::TApplications inventory(host.target().registry());
        inventory.LoadFromRegistry();
        scans.push_back(timer.nsecsElapsed());
    }
    for (int i = 0; i < runs; ++i)
        refreshes.push_back(timed([&] { frame.GenerateList(nullptr); }));
    frame.Filtering = true; // rebuild from the records already read
    for (int i = 0; i < runs; ++i)
        rebuilds.push_back(timed([&] { frame.GenerateList(nullptr); }));
    // Typing a word into the filter box and erasing it again, a rebuild per
    // keystroke: most nodes leave at the first letter and come back at the last.
    auto *filterBox = frame.findChild<QLineEdit *>(u"EditProgramFilter"_s);
    if (!filterBox)
        throw kelvane::Error(u"the frame has no EditProgramFilter"_s);
    const QString word = u"studio"_s;
    std::vector<qint64> keystrokes;
    for (int i = 0; i < runs; ++i) {
        for (int length = 1; length <= word.size(); ++length) {
            filterBox->setText(word.left(length));
            keystrokes.push_back(timed([&] { frame.GenerateList(nullptr); }));
        }
        for (int length = int(word.size()) - 1; length >= 0; --length) {
            filterBox->setText(word.left(length));
            keystrokes.push_back(timed([&] { frame.GenerateList(nullptr); }));
        }
    }
    frame.Filtering = false;
    if (frame.nodeCount() != nodes)
        throw kelvane::Error(u"%1: node count changed from %2 to %3 while measuring"_s.arg(args[1]).arg(nodes).arg(
            frame.nodeCount()));

    const double scan = medianMs(scans), refresh = medianMs(refreshes), rebuild = medianMs(rebuilds);
    const double keystroke = medianMs(keystrokes);
    const double slowestKeystroke = double(*std::max_element(keystrokes.begin(), keystrokes.end())) / 1e6;
    std::printf("entries=%d nodes=%d first_build_ms=%.1f\n", frame.inventory()->ApplicationCount(), nodes,
                double(first) / 1e6);
    std::printf("rebuild_from_memory_ms=%.1f (budget 16) %s\n", rebuild, rebuild <= 16 ? "ok" : "OVER");
    std::printf("filter_keystroke_ms=%.1f slowest=%.1f (budget 16) %s\n", keystroke, slowestKeystroke,
                keystroke <= 16 ? "ok" : "OVER");
    std::printf("scan_ms=%.1f full_refresh_ms=%.1f (budget %.1f) %s\n", scan, refresh, 2 * scan,
                refresh <= 2 * scan ? "ok" : "OVER");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true); // never the user's settings
    try {
        return run(app.arguments());
    } catch (const kelvane::Error &error) {
        std::fprintf(stderr, "bench_program: %s\n", error.what());
        return 1;
    }
}
