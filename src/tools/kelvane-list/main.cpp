// kelvane-list: prints the inventory of the managed registry, for scripts and
// offline reports. Exit status: 0 done, 1 the registry could not be used,
// 2 bad arguments or filter, 3 the output could not be written.
#include "ListOutput.h"

#include "inventory/NameOrder.h"
#include "inventory/ProgramTree.h"
#include "inventory/kvApplication.h"
#include "platform/Error.h"
#include "platform/Target.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

// Sanitizers bring their own allocator and a leak check at exit.
#if defined(__SANITIZE_ADDRESS__)
#define KELVANE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KELVANE_SANITIZED 1
#endif
#endif

#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#endif

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

namespace {

constexpr int ExitTarget = 1;
constexpr int ExitUsage = 2;
constexpr int ExitOutput = 3;

const char Usage[] =
    "Usage: kelvane-list [--registry PATH] [--json | --tree] [--no-updates] [--filter TEXT]\n"
    "\n"
    "Prints the applications, updates and hotfixes registered in a Windows registry.\n"
    "\n"
    "  --registry PATH  a Wine prefix folder or a Wine registry file (system.reg);\n"
    "                   without it: KELVANE_REGISTRY, WINEPREFIX, ~/.wine, the sample\n"
    "  --tree           the sorted list as the program list shows it (default)\n"
    "  --json           every record in scan order, as JSON\n"
    "  --no-updates     leave out updates and the hotfix group (tree only)\n"
    "  --filter TEXT    keep the entries whose names contain TEXT (wildcards * ? [...];\n"
    "                   tree only)\n"
    "  --help           this text\n";

struct Options
{
    QString registry;
    bool json = false;
    bool showUpdates = true;
    QString filter;
};

void printError(const QString &message)
{
    std::fprintf(stderr, "kelvane-list: %s\n", message.toUtf8().constData());
}

// Runs write on standard output; a failed write (full disk, closed pipe)
// is reported, never passed off as done.
template<typename Write>
int writeOut(Write write)
{
    QFile out;
    if (!out.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        printError(u"cannot write to standard output: %1"_s.arg(out.errorString()));
        return ExitOutput;
    }
    try {
        write(out);
    } catch (const Error &error) {
        printError(error.message());
        return ExitOutput;
    }
    return 0;
}

// On a virtual machine a page fault costs about as much as parsing a page of
// the file, and the tables of a large registry fill tens of MB of heap. For
// a large file the heap therefore grows in one step marked for huge pages
// (2 MB faults instead of 4 KB ones); the step is address space only, memory
// is still taken as it is touched. A small file keeps small pages: there the
// rounding to 2 MB would cost more memory than the faults cost time. Without
// glibc, or under a sanitizer (its own allocator), nothing changes.
void preferHugeHeapPages(const QString &registry)
{
#if defined(__GLIBC__) && defined(MADV_HUGEPAGE) && !defined(KELVANE_SANITIZED)
    if (registry.isEmpty())
        return;
    const QFileInfo info(registry);
    // In a prefix, the file Target opens.
    const qint64 bytes = info.isDir() ? QFileInfo(QDir(registry).filePath(u"system.reg"_s)).size() : info.size();
    constexpr qint64 largeFile = 8 << 20;
    if (bytes < largeFile)
        return;
    constexpr quintptr huge = 2 << 20;
    // Peak use stays below three times the file; four leaves room.
    const int step = int(std::min<qint64>(4 * bytes, 1 << 30) & ~qint64(huge - 1));
    if (mallopt(M_TOP_PAD, step) != 1 || mallopt(M_TRIM_THRESHOLD, step) != 1)
        return;
    // Blocks below the mmap threshold come from the heap: two of them
    // outgrow its first pages, so it grows by the whole step.
    void *first = std::malloc(96 << 10);
    void *second = std::malloc(96 << 10);
    const quintptr begin = (reinterpret_cast<quintptr>(second) + huge - 1) & ~(huge - 1);
    const quintptr end = reinterpret_cast<quintptr>(sbrk(0)) & ~(huge - 1);
    if (second && end > begin)
        madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE); // a refusal only costs speed
    std::free(second);
    std::free(first);
#else
    Q_UNUSED(registry);
#endif
}

// Ends the process once everything is written. Freeing the tables of a
// large registry one node at a time took longer than writing the output;
// the system takes the memory back at once. Under a sanitizer the process
// returns normally so that its leak check still runs.
[[nodiscard]] int finish(int status)
{
#if !defined(KELVANE_SANITIZED)
    std::fflush(nullptr);
    std::_Exit(status);
#endif
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments();
    arguments.removeFirst();

    Options options;
    bool treeChosen = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == u"--help"_s || argument == u"-h"_s) {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (argument == u"--json"_s) {
            options.json = true;
        } else if (argument == u"--tree"_s) {
            treeChosen = true;
        } else if (argument == u"--no-updates"_s) {
            options.showUpdates = false;
        } else if (argument == u"--registry"_s || argument == u"--filter"_s) {
            if (i + 1 >= arguments.size()) {
                printError(u"%1 needs a value"_s.arg(argument));
                return ExitUsage;
            }
            (argument == u"--registry"_s ? options.registry : options.filter) = arguments.at(++i);
        } else {
            printError(u"unknown option %1 (see --help)"_s.arg(argument));
            return ExitUsage;
        }
    }
    if (options.json && treeChosen) {
        printError(u"--json and --tree exclude each other"_s);
        return ExitUsage;
    }
    // The JSON lists every record as scanned; a silently ignored filter
    // would pass a partial request off as done.
    if (options.json && (!options.filter.isEmpty() || !options.showUpdates)) {
        printError(u"--filter and --no-updates apply to --tree only"_s);
        return ExitUsage;
    }

    preferHugeHeapPages(options.registry);
    std::unique_ptr<Target> target;
    try {
        target = options.registry.isEmpty()
            ? Target::fromEnvironment(QProcessEnvironment::systemEnvironment(), Target::defaultSampleSource())
            : Target::open(options.registry);
    } catch (const Error &error) {
        printError(error.message());
        return ExitTarget;
    }

    TApplications inventory(target->registry());
    inventory.LoadFromRegistry();

    if (options.json)
        return finish(writeOut([&](QIODevice &out) { WriteInventoryJson(inventory, out); }));
    QList<ProgramTreeNode> tree;
    try {
        tree = BuildProgramTree(inventory, options.filter, options.showUpdates, NameOrder());
    } catch (const Error &error) {
        printError(error.message());
        return ExitUsage;
    }
    QByteArray out;
    for (const QString &line : ProgramTreeLines(tree))
        out.append(line.toUtf8()).append('\n');
    return finish(writeOut([&](QIODevice &device) { WriteAll(device, out); }));
}
