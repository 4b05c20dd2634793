// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvLanguage.h"

#include "kvLanguageDefault.h"
#include "config/kvConfig.h"
#include "host/Error.h"
#include "host/HostFile.h"
#include "host/IniFile.h"

#include <algorithm>

#include <QDir>
#include <QStringList>
#include <QFileInfo>
#include <QMetaProperty>
#include <QStringDecoder>

namespace kelvane {

using namespace Qt::Literals::StringLiterals;

namespace {

const QByteArray SectionNames[3] = {config::SectionMain, config::SectionCaptions, config::SectionStrings};

QString fromCp1252(const QByteArray &bytes)
{
    QStringDecoder decoder("windows-1252");
    return decoder(bytes);
}

// Writable declared property of that name, if the object's class has one.
QMetaProperty writableProperty(const QObject *object, const char *name)
{
    const QMetaObject *meta = object->metaObject();
    const int index = meta->indexOfProperty(name);
    if (index < 0)
        return {};
    QMetaProperty property = meta->property(index);
    return property.isWritable() ? property : QMetaProperty();
}

// Forms and frames carry names with the "kv" prefix; a pass never enters them,
// as each is relabelled by its own pass.
QObject *findOwned(const QObject *owner, const QString &name)
{
    for (QObject *child : owner->children()) {
        if (child->objectName().startsWith(config::FormPrefix))
            continue;
        if (child->objectName().compare(name, Qt::CaseInsensitive) == 0)
            return child;
        if (QObject *found = findOwned(child, name))
            return found;
    }
    return nullptr;
}

} // namespace

qsizetype LangTable::indexOf(const QString &key) const
{
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries.at(i).first.compare(key, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString LangTable::value(const QString &key) const
{
    const qsizetype index = indexOf(key);
    return index < 0 ? QString() : m_entries.at(index).second;
}

void LangTable::setValue(const QString &key, const QString &value)
{
    const qsizetype index = indexOf(key);
    if (value.isEmpty()) {
        if (index >= 0)
            m_entries.removeAt(index);
    } else if (index >= 0) {
        m_entries[index].second = value;
    } else {
        m_entries.append({key, value});
    }
}

TLang::TLang(QString programFolder, BuiltinInfo builtin)
    : m_programFolder(std::move(programFolder))
    , m_builtin(std::move(builtin))
{
}

QString TLang::languageFolder() const
{
    return QDir(m_programFolder).filePath(config::LanguageFolder.toString());
}

void TLang::LoadDefaults()
{
    Name = config::DefaultLanguage.toString();
    RightToLeft = false;
    UseUTF8 = false;
    for (const DefaultText &entry : DefaultCaptions)
        Captions.setValue(entry.key, entry.text);
    for (const DefaultText &entry : DefaultStrings)
        Strings.setValue(entry.key, entry.text);
}

bool TLang::IsLanguageName(const QString &name)
{
    // The name comes from settings.ini: anything that could lead out of the
    // languages folder (or cut the path short at a NUL) names no language.
    return !name.isEmpty() && !name.contains(u'/') && !name.contains(u'\\') && !name.contains(u".."_s)
        && !name.contains(QChar(u'\0'));
}

void TLang::LoadLanguage(const QString &name, bool withDefaults)
{
    if (withDefaults)
        LoadDefaults();
    const QDir folder(languageFolder());
    if (!name.isEmpty() && !IsLanguageName(name)) {
        FileName.clear();
        return;
    }
    FileName = folder.filePath(name + config::LanguageExtension.toString());
    if (name.isEmpty())
        return;
    QFileInfo info(FileName);
    if (!info.exists()) {
        // Settings written on Windows name files whatever their case ("french"
        // for French.lng): the first name-order match that differs only in case.
        const QString wanted = name + config::LanguageExtension.toString();
        const QStringList names = folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                       | QDir::NoDotAndDotDot,
                                                   QDir::Name);
        const auto match = std::find_if(names.cbegin(), names.cend(), [&wanted](const QString &entry) {
            return entry.compare(wanted, Qt::CaseInsensitive) == 0;
        });
        if (match == names.cend())
            return;
        FileName = folder.filePath(*match);
    }
    // A file that cannot be read (not a regular file, no permission, a name
    // that is not UTF-8, oversized) is like a missing one: never an error.
    QByteArray bytes;
    try {
        bytes = HostFile(FileName).readAll(config::MaxLanguageFileSize);
    } catch (const Error &) {
        return;
    }
    Name = name;
    const TIniFile reader = TIniFile::fromBytes(bytes, TIniFile::LanguageFileRules);
    RightToLeft = reader.readBool("options", "rightToLeft", false);
    UseUTF8 = reader.readBool("options", "useUTF8", false);
    for (int i = 0; i < 3; ++i) {
        LangTable &table = *Sections[i];
        if (!withDefaults)
            table.clear();
        for (const QByteArray &key : reader.keys(SectionNames[i])) {
            const QByteArray raw = reader.value(SectionNames[i], key).value_or(QByteArray());
            table.setValue(fromCp1252(key), UseUTF8 ? QString::fromUtf8(raw) : fromCp1252(raw));
        }
    }
}

void TLang::ListLanguages()
{
    Languages.clear();
    auto builtin = std::make_shared<TLangItem>();
    builtin->Author = m_builtin.author;
    builtin->Website = m_builtin.website;
    builtin->Version = m_builtin.version;
    builtin->Name = config::DefaultLanguage.toString();
    builtin->Language = DefaultLanguageDisplayName;
    Languages.append(builtin);

    const QDir folder(languageFolder());
    if (!folder.exists())
        return;
    // Name order: readdir order on Linux is arbitrary and would reorder the list between runs.
    const QFileInfoList entries = folder.entryInfoList({u"*"_s + config::LanguageExtension.toString()},
                                                       QDir::AllEntries | QDir::Hidden | QDir::System
                                                           | QDir::NoDotAndDotDot,
                                                       QDir::Name);
    for (const QFileInfo &entry : entries) {
        const QString fileName = entry.fileName();
        const QString base = fileName.left(fileName.size() - config::LanguageExtension.size());
        TLang temporary(m_programFolder);
        temporary.LoadLanguage(base, false);
        auto item = std::make_shared<TLangItem>();
        item->Author = temporary.Main.value(u"author"_s);
        item->Website = temporary.Main.value(u"website"_s);
        item->Version = temporary.Main.value(u"version"_s);
        item->Language = temporary.Main.value(u"language"_s);
        item->Name = base;
        item->FileName = fileName.left(259);
        Languages.append(item);
        if (m_listHook)
            m_listHook();
    }
}

// Captions go to the first writable declared property among "text" (labels,
// buttons, check boxes, menu actions, panels) and "title" (group boxes).
// Text editors also declare "text" but carry "readOnly"; they are left alone.
void TLang::ApplyToComponent(QObject *component, const QString &text)
{
    if (component->metaObject()->indexOfProperty("readOnly") >= 0)
        return;
    for (const char *name : {"text", "title"}) {
        const QMetaProperty property = writableProperty(component, name);
        if (property.isValid()) {
            property.write(component, text);
            return;
        }
    }
}

void TLang::ApplyToForm(QObject *form)
{
    Applying = true;
    for (qsizetype i = 0; i < Captions.count(); ++i) {
        const QString &key = Captions.keyAt(i);
        if (form->objectName() == config::FormPrefix.toString() + key) {
            const QMetaProperty title = writableProperty(form, "windowTitle");
            if (title.isValid())
                title.write(form, Captions.valueAt(i));
        } else if (QObject *component = findOwned(form, key)) {
            ApplyToComponent(component, Captions.valueAt(i));
        }
    }
    const QMetaProperty direction = writableProperty(form, "layoutDirection");
    if (direction.isValid())
        direction.write(form, QVariant::fromValue(RightToLeft ? Qt::RightToLeft : Qt::LeftToRight));
    Applying = false;
}

void TLang::ApplyToFrame(QObject *frame) const
{
    for (qsizetype i = 0; i < Captions.count(); ++i) {
        if (QObject *component = findOwned(frame, Captions.keyAt(i)))
            ApplyToComponent(component, Captions.valueAt(i));
    }
}

} // namespace kelvane
