// SPDX-License-Identifier: GPL-3.0-or-later
// kelvane-list: prints the inventory of the managed registry, for scripts and
// offline reports. Exit status: 0 done, 1 the registry could not be used,
// 2 bad arguments or filter, 3 the output could not be written.
#include "ListOutput.h"

#include "common/kvCommon.h"
#include "config/kvConfig.h"
#include "host/Error.h"
#include "host/HostFile.h"
#include "host/kvDisplayText.h"
#include "inventory/kvApplication.h"
#include "inventory/NameOrder.h"
#include "inventory/PrefixDiscovery.h"
#include "inventory/ProgramTree.h"
#include "settings/kvSettings.h"
#include "target/Target.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    "Usage: kelvane-list [--registry PATH | --all] [--json | --tree] [--no-updates] [--filter TEXT]\n"
    "       kelvane-list --prefixes [--json]\n"
    "\n"
    "Prints the applications, updates and hotfixes registered in a Windows registry.\n"
    "\n"
    "  --prefixes       the Wine prefixes found on this machine (WINEPREFIX, ~/.wine,\n"
    "                   Bottles, Lutris, Steam, Heroic, PlayOnLinux, CrossOver), one\n"
    "                   a line: path, launcher, name, and whether it has a registry\n"
    "  --all            the applications of every prefix found, prefix by prefix\n"
    "  --registry PATH  a Wine prefix folder, a Wine registry file (system.reg), a\n"
    "                   Windows partition's root folder or a registry hive file;\n"
    "                   without it: KELVANE_REGISTRY, WINEPREFIX, the one chosen last\n"
    "                   in kelvane, ~/.wine, the sample\n"
    "  --tree           the sorted list as the program list shows it (default)\n"
    "  --json           every record in scan order, as JSON\n"
    "  --no-updates     leave out updates and the hotfix group (tree only)\n"
    "  --filter TEXT    keep the entries whose names contain TEXT (wildcards * ? [...];\n"
    "                   tree only)\n"
    "  --help           this text\n";

struct Options
{
    QString registry;
    bool prefixes = false;
    bool all = false;
    bool json = false;
    bool showUpdates = true;
    QString filter;
};

// Messages may quote a path or a key name: they are written as a listing
// line is, so that no control character reaches the terminal.
void printError(const QString &message)
{
    std::fprintf(stderr, "kelvane-list: %s\n", SingleLine(message).toUtf8().constData());
}

// Standard output written straight with write(2), so that a closed pipe
// shows as EPIPE (SIGPIPE is ignored) rather than ending the process.
class StandardOutput : public QIODevice
{
public:
    StandardOutput() { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }
    bool isSequential() const override { return true; }
    int failure() const { return m_failure; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        ssize_t n = 0;
        do
            n = ::write(STDOUT_FILENO, data, size_t(size));
        while (n < 0 && errno == EINTR);
        if (n < 0) {
            m_failure = errno;
            setErrorString(systemReason(errno));
            return -1;
        }
        return n;
    }

private:
    int m_failure = 0;
};

// Runs write on standard output; a failed write (full disk, closed pipe)
// is never passed off as done. A reader that stopped reading (`| head`)
// wanted no more: that ends quietly, though with the status of a failure.
template<typename Write>
int writeOut(Write write)
{
    StandardOutput out;
    try {
        write(out);
    } catch (const Error &error) {
        if (out.failure() != EPIPE)
            printError(error.message());
        return ExitOutput;
    }
    return 0;
}

// The tree's texts as a listing writes them.
void makeListable(QList<ProgramTreeNode> &nodes)
{
    for (ProgramTreeNode &node : nodes) {
        node.text = SingleLine(node.text);
        makeListable(node.children);
    }
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
    const qint64 bytes =
        info.isDir() ? QFileInfo(QDir(registry).filePath(config::WineSystemRegistry.toString())).size() : info.size();
    constexpr qint64 largeFile = 8 << 20;
    if (bytes < largeFile)
        return;
    constexpr quintptr huge = 2 << 20;
    // Peak use is the file's bytes plus up to three times as much for the
    // store's tables: about four times the file.
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

// The registry chosen last in the desktop program, as it opens it too.
QString rememberedTarget()
{
    TSettings settings;
    return settings.Load(DefaultSettingsPath()) ? settings.Target : QString();
}

QJsonObject prefixObject(const FoundPrefix &prefix)
{
    return {{u"Path"_s, prefix.path},
            {u"Launcher"_s, prefix.launcher},
            {u"Name"_s, prefix.name},
            {u"HasRegistry"_s, prefix.hasRegistry}};
}

QByteArray prefixListing(const QList<FoundPrefix> &prefixes, bool json)
{
    if (json) {
        QJsonArray array;
        for (const FoundPrefix &prefix : prefixes)
            array.append(prefixObject(prefix));
        return QJsonDocument(array).toJson(QJsonDocument::Indented);
    }
    QByteArray out;
    for (const FoundPrefix &prefix : prefixes)
        out += QStringList{SingleLine(prefix.path), SingleLine(prefix.launcher), SingleLine(prefix.name),
                           prefix.hasRegistry ? u"registry"_s : u"no-registry"_s}
                   .join(u'\t')
                   .toUtf8()
               + '\n';
    return out;
}

// The listing of one prefix: its tree lines, or its inventory as JSON.
QByteArray prefixInventory(const TApplications &inventory, const Options &options)
{
    if (options.json) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        WriteInventoryJson(inventory, buffer);
        return buffer.data();
    }
    QList<ProgramTreeNode> tree = BuildProgramTree(inventory, options.filter, options.showUpdates, NameOrder());
    makeListable(tree);
    QByteArray out;
    for (const QString &line : ProgramTreeLines(tree))
        out.append("  ").append(line.toUtf8()).append('\n');
    return out;
}

// Every prefix's applications, one after the other; one that cannot be
// read gets its error in the listing, and the others still come.
int listAll(const QList<FoundPrefix> &prefixes, const Options &options)
{
    int read = 0;
    const int status = writeOut([&](QIODevice &out) {
        WriteAll(out, options.json ? "[" : "");
        bool first = true;
        for (const FoundPrefix &prefix : prefixes) {
            QByteArray piece;
            QJsonObject head = prefixObject(prefix);
            try {
                if (!prefix.hasRegistry)
                    throw Error(u"%1 has no registry file"_s.arg(prefix.path));
                const std::unique_ptr<Target> target = Target::open(prefix.path);
                TApplications inventory(target->registry());
                inventory.LoadFromRegistry();
                piece = prefixInventory(inventory, options);
                ++read;
            } catch (const Error &error) {
                printError(error.message());
                head.insert(u"Error"_s, error.message());
                if (!options.json)
                    piece = "  ! " + SingleLine(error.message()).toUtf8() + '\n';
            }
            if (options.json) {
                QByteArray object = QJsonDocument(head).toJson(QJsonDocument::Compact);
                if (!piece.isEmpty()) {
                    object.chop(1);
                    object += ",\"Inventory\":" + piece.trimmed() + '}';
                }
                piece = (first ? "\n" : ",\n") + object;
            } else {
                piece = SingleLine(QString(prefix.name + u" ("_s + prefix.launcher + u"): "_s + prefix.path)).toUtf8() + '\n'
                        + piece;
            }
            first = false;
            WriteAll(out, piece);
        }
        WriteAll(out, options.json ? "\n]\n" : "");
    });
    if (status != 0)
        return finish(status);
    return finish(read > 0 ? 0 : ExitTarget);
}

} // namespace

int main(int argc, char *argv[])
{
    // A closed pipe is an output failure to report, not a reason to die.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);

    // The arguments as given: a name that is not valid UTF-8 must be told
    // apart from one that names nothing.
    Options options;
    bool treeChosen = false;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument == u"--help"_s || argument == u"-h"_s) {
            if (std::fputs(Usage, stdout) < 0 || std::fflush(stdout) != 0)
                return ExitOutput;
            return 0;
        }
        if (argument == u"--json"_s) {
            options.json = true;
        } else if (argument == u"--prefixes"_s) {
            options.prefixes = true;
        } else if (argument == u"--all"_s) {
            options.all = true;
        } else if (argument == u"--tree"_s) {
            treeChosen = true;
        } else if (argument == u"--no-updates"_s) {
            options.showUpdates = false;
        } else if (argument == u"--registry"_s || argument == u"--filter"_s) {
            if (i + 1 >= argc) {
                printError(u"%1 needs a value"_s.arg(argument));
                return ExitUsage;
            }
            const QByteArray raw(argv[++i]);
            if (argument == u"--filter"_s) {
                options.filter = QString::fromLocal8Bit(raw);
                continue;
            }
            // An empty name would otherwise fall back to the environment's registry.
            if (raw.isEmpty()) {
                printError(u"--registry needs a path, not an empty text"_s);
                return ExitUsage;
            }
            if (const QString problem = HostFile::rawNameProblem(raw); !problem.isEmpty()) {
                printError(problem);
                return ExitTarget;
            }
            options.registry = QFile::decodeName(raw);
        } else {
            printError(u"unknown option %1 (see --help)"_s.arg(argument));
            return ExitUsage;
        }
    }
    if (int(options.prefixes) + int(options.all) + int(!options.registry.isEmpty()) > 1) {
        printError(u"--prefixes, --all and --registry exclude each other"_s);
        return ExitUsage;
    }
    if (options.prefixes && (treeChosen || !options.filter.isEmpty() || !options.showUpdates)) {
        printError(u"--prefixes takes no other option but --json"_s);
        return ExitUsage;
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

    if (options.prefixes || options.all) {
        const PrefixSearch search = findPrefixes(QDir::homePath(), QProcessEnvironment::systemEnvironment());
        for (const QString &note : search.notes)
            printError(u"skipped %1"_s.arg(note));
        if (options.prefixes)
            return writeOut([&](QIODevice &out) { WriteAll(out, prefixListing(search.prefixes, options.json)); });
        return listAll(search.prefixes, options);
    }

    preferHugeHeapPages(options.registry);
    std::unique_ptr<Target> target;
    try {
        target = options.registry.isEmpty()
            ? Target::fromEnvironment(QProcessEnvironment::systemEnvironment(), GetSampleFolder(),
                                      rememberedTarget())
            : Target::open(options.registry);
    } catch (const Error &error) {
        printError(error.message());
        return ExitTarget;
    }

    TApplications inventory(target->registry());
    try {
        inventory.LoadFromRegistry();
    } catch (const Error &error) {
        printError(error.message());
        return finish(ExitTarget);
    }

    if (options.json)
        return finish(writeOut([&](QIODevice &out) { WriteInventoryJson(inventory, out); }));
    QList<ProgramTreeNode> tree;
    try {
        tree = BuildProgramTree(inventory, options.filter, options.showUpdates, NameOrder());
    } catch (const Error &error) {
        printError(error.message());
        return finish(ExitUsage);
    }
    makeListable(tree);
    QByteArray out;
    for (const QString &line : ProgramTreeLines(tree))
        out.append(line.toUtf8()).append('\n');
    return finish(writeOut([&](QIODevice &device) { WriteAll(device, out); }));
}
