// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <functional>
#include <memory>

namespace kelvane {

// A name/value table: insertion order kept, keys compared case-insensitively,
// setting the empty text removes the entry.
class LangTable
{
public:
    QString value(const QString &key) const;
    void setValue(const QString &key, const QString &value);
    qsizetype count() const { return m_entries.size(); }
    const QString &keyAt(qsizetype index) const { return m_entries.at(index).first; }
    const QString &valueAt(qsizetype index) const { return m_entries.at(index).second; }
    void clear() { m_entries.clear(); }

private:
    qsizetype indexOf(const QString &key) const;

    QList<QPair<QString, QString>> m_entries;
};

struct TLangItem
{
    QString Author;
    QString Website;
    QString Version;
    QString Name;     // file base name, or "default"
    QString Language; // display name
    QString FileName; // name with extension; empty for the built-in entry
};

using TLangSet = QList<std::shared_ptr<TLangItem>>;

// The language catalogue. Language files live in <program folder>/languages.
class TLang
{
public:
    // Shown for the built-in language in the language list.
    struct BuiltinInfo
    {
        QString author;
        QString website;
        QString version;
    };

    explicit TLang(QString programFolder, BuiltinInfo builtin = {});
    TLang(const TLang &) = delete;
    TLang &operator=(const TLang &) = delete;

    void LoadDefaults();
    // `name` is the base name of a file in the languages folder. A name that
    // is not one (empty, or holding a slash, a backslash or "..") and a file
    // that is missing or cannot be read leave Name as it was: the texts
    // already loaded (with withDefaults, the built-in ones) apply.
    void LoadLanguage(const QString &name, bool withDefaults);
    static bool IsLanguageName(const QString &name);
    void ListLanguages();

    // Relabelling by object name; works on QObject properties only (see the .cpp).
    static void ApplyToComponent(QObject *component, const QString &text);
    void ApplyToForm(QObject *form);
    void ApplyToFrame(QObject *frame) const;

    // Called after each file that ListLanguages reads, so a GUI can process events.
    void setListHook(std::function<void()> hook) { m_listHook = std::move(hook); }

    QString languageFolder() const;

    QString Name;
    QString FileName;
    bool RightToLeft = false;
    bool UseUTF8 = false;
    bool Applying = false;
    TLangSet Languages;
    LangTable Main;
    LangTable Captions;
    LangTable Strings;
    LangTable *const Sections[3] = {&Main, &Captions, &Strings};

private:
    QString m_programFolder;
    BuiltinInfo m_builtin;
    std::function<void()> m_listHook;
};

} // namespace kelvane
