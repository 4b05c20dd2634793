// SPDX-License-Identifier: GPL-3.0-or-later
#include "target/CommandRunner.h"
#include "target/Target.h"
#include "target/WindowsCommandLine.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

namespace {

// A small prefix with a few programs, made once per run.
const Target &target()
{
    static QTemporaryDir folder;
    static std::unique_ptr<Target> made = [] {
        const QString c = folder.path() + u"/drive_c"_s;
        for (const QString &file : {u"/windows/system32/msiexec.exe"_s, u"/Program Files/App/uninst.exe"_s,
                                    u"/Program.exe"_s}) {
            QDir().mkpath(QFileInfo(c + file).path());
            QFile f(c + file);
            if (!f.open(QIODevice::WriteOnly))
                std::abort();
        }
        QFile reg(folder.path() + u"/system.reg"_s);
        if (!reg.open(QIODevice::WriteOnly))
            std::abort();
        reg.write("WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n");
        reg.close();
        return Target::open(folder.path());
    }();
    return *made;
}

} // namespace

// Command lines come from registry values: resolution must stay in bounds and
// give a found program only with its host file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString line = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const ResolvedCommand resolved = ResolveCommandLine(line, target());
    if (resolved.code == StartCode::Success) {
        // Found means a file, and on the target's drive: ".." never climbs out of it.
        static const QString driveC = target().driveRoot(u'C') + u'/';
        if (!QFileInfo(resolved.hostProgram).isFile() || !resolved.hostProgram.startsWith(driveC))
            std::abort();
    } else if (!resolved.hostProgram.isEmpty()) {
        std::abort();
    }
    (void)SplitArguments(line);
    return 0;
}
