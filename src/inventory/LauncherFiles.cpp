// SPDX-License-Identifier: GPL-3.0-or-later
#include "LauncherFiles.h"

#include "config/kvConfig.h"
#include "host/Error.h"
#include "host/HostFile.h"

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

QString readLauncherFile(const QString &path, QString *note)
{
    try {
        const HostFile file(path);
        // A longer file is read in part: the keys Kelvane wants come early,
        // and a hostile file costs no more than this.
        return QString::fromUtf8(file.read(0, config::MaxLauncherFileSize));
    } catch (const Error &error) {
        if (note)
            *note = error.message();
        return {};
    }
}

QStringList vdfValues(const QString &text, const QString &key)
{
    // Tokens are quoted strings (with \" and \\ escapes) or braces; a key is
    // a quoted string followed by another quoted string on the same level.
    QStringList tokens;
    QList<bool> quoted;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'{' || c == u'}') {
            tokens.append(QString(c));
            quoted.append(false);
        } else if (c == u'/' && i + 1 < text.size() && text[i + 1] == u'/') {
            while (i < text.size() && text[i] != u'\n')
                ++i;
        } else if (c == u'"') {
            QString token;
            for (++i; i < text.size() && text[i] != u'"'; ++i) {
                if (text[i] == u'\\' && i + 1 < text.size())
                    ++i;
                token.append(text[i]);
            }
            tokens.append(token);
            quoted.append(true);
        }
    }
    QStringList values;
    for (qsizetype i = 0; i + 1 < tokens.size(); ++i) {
        if (quoted[i] && quoted[i + 1] && tokens[i].compare(key, Qt::CaseInsensitive) == 0) {
            values.append(tokens[i + 1]);
            ++i;
        }
    }
    return values;
}

QString yamlValue(const QString &text, const QString &key)
{
    for (const QString &raw : text.split(u'\n')) {
        const QString line = raw.trimmed();
        if (!line.startsWith(key + u':'))
            continue;
        QString value = line.mid(key.size() + 1).trimmed();
        if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        if (!value.isEmpty())
            return value;
    }
    return {};
}

} // namespace kelvane
