// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCollator>
#include <QString>

namespace kelvane {

// The order of names in the program list: linguistic, with letter case only
// breaking ties, as Windows' lstrcmpW compares. Under the C or POSIX locale
// Qt would compare code points, so an English collation (the root
// linguistic order) stands in for it there.
class NameOrder
{
public:
    NameOrder();
    explicit NameOrder(const QLocale &locale);

    // Negative, zero or positive, like QString::compare.
    int compare(const QString &left, const QString &right) const;
    bool operator()(const QString &left, const QString &right) const { return compare(left, right) < 0; }

private:
    QCollator m_ignoringCase;
    QCollator m_withCase;
};

} // namespace kelvane
