// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QUrl>

namespace kelvane::test {

// Receives what OpenDocument hands to the desktop, instead of a browser,
// for as long as it exists.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    UrlCatcher()
    {
        for (const char *scheme : Schemes)
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
    }
    ~UrlCatcher() override
    {
        for (const char *scheme : Schemes)
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
    UrlCatcher(const UrlCatcher &) = delete;
    UrlCatcher &operator=(const UrlCatcher &) = delete;

    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls.append(url); }

private:
    // Every scheme a test may see asked for, so that none reaches the desktop.
    static constexpr const char *Schemes[] = {"http", "https", "ftp", "mailto", "file", "javascript"};
};

} // namespace kelvane::test
