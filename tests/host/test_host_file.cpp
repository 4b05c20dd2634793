// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/Error.h"
#include "host/HostFile.h"

#include <QTest>

#include <optional>

using namespace Qt::Literals::StringLiterals;
using kelvane::Error;
using kelvane::HostFile;

class TestHostFile : public QObject
{
    Q_OBJECT

private slots:
    void readErrorIsSaid()
    {
        // A regular file whose reads fail: this process's memory, said to be
        // empty, and unmapped at offset 0. The failed read is the error, not
        // a file that changed while being read.
        std::optional<HostFile> file;
        try {
            file.emplace(u"/proc/self/mem"_s);
        } catch (const Error &error) {
            QSKIP(qPrintable(error.message()));
        }
        try {
            file->readAll(1024);
            QFAIL("read");
        } catch (const Error &error) {
            QVERIFY2(error.message().startsWith(u"Could not read /proc/self/mem: "_s), qPrintable(error.message()));
        }
    }
};

QTEST_GUILESS_MAIN(TestHostFile)
#include "test_host_file.moc"
