// SPDX-License-Identifier: GPL-3.0-or-later
// Times two commands run alternately (A B A B ...), after one warm-up run of
// each, with their output thrown away. On a shared machine the load drifts:
// each pair runs under much the same load, so the median of the per-pair
// ratios B / A says more than either median alone. CPU time (user + system)
// comes from the kernel's account of each child.
//
// Usage: kelvane-bench-pairs PAIRS COMMAND_A... -- COMMAND_B...
// Prints: a_wall_ms b_wall_ms a_cpu_ms b_cpu_ms wall_ratio cpu_ratio (medians)
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Run
{
    double wallMs = 0;
    double cpuMs = 0;
};

[[noreturn]] void fail(const std::string &message)
{
    std::fprintf(stderr, "kelvane-bench-pairs: %s\n", message.c_str());
    std::exit(2);
}

double milliseconds(const timeval &time)
{
    return double(time.tv_sec) * 1e3 + double(time.tv_usec) / 1e3;
}

Run runOnce(const std::vector<char *> &command)
{
    timespec start {};
    timespec end {};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    const pid_t child = ::fork();
    if (child < 0)
        fail(std::string("fork: ") + std::strerror(errno));
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0)
            ::dup2(null, STDOUT_FILENO);
        ::execvp(command[0], command.data());
        std::fprintf(stderr, "kelvane-bench-pairs: %s: %s\n", command[0], std::strerror(errno));
        ::_exit(127);
    }
    int status = 0;
    rusage usage {};
    while (::wait4(child, &status, 0, &usage) < 0)
        if (errno != EINTR)
            fail(std::string("wait4: ") + std::strerror(errno));
    ::clock_gettime(CLOCK_MONOTONIC, &end);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail(std::string(command[0]) + " failed");
    Run run;
    run.wallMs = double(end.tv_sec - start.tv_sec) * 1e3 + double(end.tv_nsec - start.tv_nsec) / 1e6;
    run.cpuMs = milliseconds(usage.ru_utime) + milliseconds(usage.ru_stime);
    return run;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 5)
        fail("usage: kelvane-bench-pairs PAIRS COMMAND_A... -- COMMAND_B...");
    const int pairs = std::atoi(argv[1]);
    if (pairs < 1)
        fail("PAIRS must be a positive number");
    std::vector<char *> a;
    std::vector<char *> b;
    bool second = false;
    for (int i = 2; i < argc; ++i) {
        if (!second && std::strcmp(argv[i], "--") == 0) {
            second = true;
            continue;
        }
        (second ? b : a).push_back(argv[i]);
    }
    if (a.empty() || b.empty())
        fail("two commands are needed, separated by --");
    a.push_back(nullptr);
    b.push_back(nullptr);

    runOnce(a);
    runOnce(b);
    std::vector<double> aWall, bWall, aCpu, bCpu, wallRatio, cpuRatio;
    for (int i = 0; i < pairs; ++i) {
        const Run x = runOnce(a);
        const Run y = runOnce(b);
        aWall.push_back(x.wallMs);
        bWall.push_back(y.wallMs);
        aCpu.push_back(x.cpuMs);
        bCpu.push_back(y.cpuMs);
        wallRatio.push_back(y.wallMs / x.wallMs);
        // A command shorter than the clock's tick may be charged nothing.
        if (x.cpuMs > 0)
            cpuRatio.push_back(y.cpuMs / x.cpuMs);
    }
    std::printf("a_wall_ms=%.2f b_wall_ms=%.2f a_cpu_ms=%.2f b_cpu_ms=%.2f wall_ratio=%.2f cpu_ratio=%.2f\n",
                median(aWall), median(bWall), median(aCpu), median(bCpu), median(wallRatio),
                cpuRatio.empty() ? 0.0 : median(cpuRatio));
    return 0;
}
