// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/kvConfig.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;

class TestConfig : public QObject
{
    Q_OBJECT
private slots:
    void cacheOptionReachesTheConstant()
    {
        QCOMPARE(kelvane::config::AuthorName, QString::fromUtf8(EXPECTED_AUTHOR_NAME));
    }
};

QTEST_GUILESS_MAIN(TestConfig)
#include "test_config.moc"
