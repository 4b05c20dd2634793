// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvDisplayText.h"

#include <QRegularExpression>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

bool breaksTheLine(char16_t unit)
{
    return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || unit == 0x2028 || unit == 0x2029;
}

} // namespace

QString SingleLine(QStringView text)
{
    QString line = text.toString();
    for (QChar &unit : line) {
        if (breaksTheLine(unit.unicode()))
            unit = u' ';
    }
    return line;
}

QUrl OpenableAddress(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {};
    // A scheme is letters, digits, '+', '-' or '.' before the first ':'; a
    // text without one ("www.example.org/page") is a host and path.
    static const QRegularExpression schemePrefix(u"^([A-Za-z][A-Za-z0-9+.-]*):"_s);
    const QRegularExpressionMatch scheme = schemePrefix.match(trimmed);
    QUrl url;
    // A dot before the colon is a host with a port (www.example.org:8080).
    if (scheme.hasMatch() && !scheme.captured(1).contains(u'.')) {
        const QString name = scheme.captured(1).toLower();
        if (name != u"http"_s && name != u"https"_s && name != u"ftp"_s && name != u"mailto"_s)
            return {};
        url = QUrl(trimmed, QUrl::StrictMode);
    } else {
        // A path (absolute, relative or a Windows one) is never an address.
        if (trimmed.startsWith(u'/') || trimmed.startsWith(u'\\') || trimmed.startsWith(u'.')
            || trimmed.contains(u'\\'))
            return {};
        url = QUrl(u"http://"_s + trimmed, QUrl::StrictMode);
    }
    if (!url.isValid())
        return {};
    if (url.scheme() == u"mailto"_s) {
        // Only the address: some mail programs take "?attach=" to mean a
        // file of this machine to send.
        url = url.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment);
        return url.path().isEmpty() ? QUrl() : url;
    }
    if (url.host().isEmpty())
        return {};
    return url;
}

} // namespace kelvane
