#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace kelvane {

// The one error type of the core. Its message says what failed and where
// (file, line, key path), ready to be shown to the user as it stands.
class Error : public std::exception
{
public:
    explicit Error(QString message)
        : m_message(std::move(message))
        , m_utf8(m_message.toUtf8())
    {
    }

    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

} // namespace kelvane
