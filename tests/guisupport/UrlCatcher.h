#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

namespace kelvane::test {

// Receives what OpenDocument hands to the desktop, instead of a browser
// (install it with QDesktopServices::setUrlHandler(scheme, &catcher, "open")).
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls.append(url); }
};

} // namespace kelvane::test
