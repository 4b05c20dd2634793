// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileFaults.h"

#include <array>

namespace kelvane {

namespace {

struct Plan
{
    std::array<int, 5> counts{};
    FileCall call = FileCall::Write;
    int nth = 0; // 0: none fails
    int error = 0;
    std::function<void(const QString &)> pause;
};

Plan &plan()
{
    static Plan instance;
    return instance;
}

} // namespace

int injectedFault(FileCall call)
{
    Plan &p = plan();
    const int seen = ++p.counts[size_t(call)];
    return p.nth > 0 && call == p.call && seen == p.nth ? p.error : 0;
}

void pauseBeforeReplacing(const QString &target)
{
    if (plan().pause)
        plan().pause(target);
}

namespace test {

void FileFaults::failAt(FileCall call, int nth, int error)
{
    plan().counts = {};
    plan().call = call;
    plan().nth = nth;
    plan().error = error;
}

void FileFaults::clear()
{
    failAt(FileCall::Write, 0, 0);
}

int FileFaults::count(FileCall call)
{
    return plan().counts[size_t(call)];
}

void FileFaults::setPause(std::function<void(const QString &target)> pause)
{
    plan().pause = std::move(pause);
}

} // namespace test

} // namespace kelvane
