// SPDX-License-Identifier: GPL-3.0-or-later
#include "NameOrder.h"

namespace kelvane {

namespace {

QLocale linguisticLocale(const QLocale &locale)
{
    if (locale.language() == QLocale::C || locale.language() == QLocale::AnyLanguage)
        return QLocale(QLocale::English, QLocale::UnitedStates);
    return locale;
}

} // namespace

NameOrder::NameOrder()
    : NameOrder(QLocale())
{
}

NameOrder::NameOrder(const QLocale &locale)
    : m_ignoringCase(linguisticLocale(locale))
    , m_withCase(linguisticLocale(locale))
{
    m_ignoringCase.setCaseSensitivity(Qt::CaseInsensitive);
    m_withCase.setCaseSensitivity(Qt::CaseSensitive);
}

int NameOrder::compare(const QString &left, const QString &right) const
{
    const int primary = m_ignoringCase.compare(left, right);
    if (primary != 0)
        return primary;
    return m_withCase.compare(left, right);
}

} // namespace kelvane
