// SPDX-License-Identifier: GPL-3.0-or-later
#include "program/kvIconLoaders.h"

#include "inventory/kvApplication.h"
#include "target/Target.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

class TestIconLoaders : public QObject
{
    Q_OBJECT

private slots:
    void runningLoadersEndWithTheirOwner()
    {
        // A prefix whose entry names thousands of icon sources that give no
        // icon: a loader works through them for a long while.
        QTemporaryDir prefix;
        QVERIFY(QFile::copy(QStringLiteral(KELVANE_TEST_DATA "/shell/xp/system.reg"), prefix.filePath(u"system.reg"_s)));
        QVERIFY(QDir(prefix.path()).mkpath(u"drive_c"_s));
        QFile junk(prefix.filePath(u"drive_c/junk.exe"_s));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(64 * 1024, 'M'));
        junk.close();
        const std::unique_ptr<Target> target = Target::open(prefix.path());
        auto entry = std::make_shared<TAppItem>(target->registry());
        for (int i = 0; i < 20000; ++i)
            entry->IconPaths.append(u"C:\\junk.exe,0"_s);

        QLabel picture;
        QList<QPointer<TIconLoader>> started;
        QElapsedTimer clock;
        {
            TIconLoaders loaders;
            for (int i = 0; i < 3; ++i)
                started.append(loaders.start(entry, *target, &picture, true));
            clock.start();
        }
        // Gone at once with their owner, none left to run on its own.
        for (const QPointer<TIconLoader> &loader : std::as_const(started))
            QVERIFY(loader.isNull());
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_MAIN(TestIconLoaders)
#include "test_icon_loaders.moc"
