#include "ListingText.h"

#include <algorithm>

namespace kelvane {

namespace {

bool unsafe(QChar c)
{
    const char16_t unit = c.unicode();
    return unit < 0x20 || (unit >= 0x7f && unit <= 0x9f) || unit == 0x2028 || unit == 0x2029;
}

} // namespace

QString ListingText(const QString &text)
{
    // Nearly every name is clean: it is then shared, not copied.
    const auto first = std::find_if(text.cbegin(), text.cend(), unsafe);
    if (first == text.cend())
        return text;
    QString safe = text;
    for (qsizetype i = first - text.cbegin(); i < safe.size(); ++i) {
        if (unsafe(safe.at(i)))
            safe[i] = u' ';
    }
    return safe;
}

} // namespace kelvane
