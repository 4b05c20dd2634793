#include "ListOutput.h"

#include <cstdio>

namespace kelvane {

namespace {

void appendString(QByteArray &out, const QString &text)
{
    out.append('"');
    for (const QChar ch : text) {
        const char16_t unit = ch.unicode();
        switch (unit) {
        case u'"': out.append("\\\""); break;
        case u'\\': out.append("\\\\"); break;
        case u'\n': out.append("\\n"); break;
        case u'\r': out.append("\\r"); break;
        case u'\t': out.append("\\t"); break;
        case u'\b': out.append("\\b"); break;
        case u'\f': out.append("\\f"); break;
        default:
            if (unit < 0x20 || ch.isSurrogate()) {
                // Control characters, and lone surrogates a registry may
                // hold, are escaped so the output stays valid UTF-8 JSON.
                // Proper pairs are escaped too: still valid JSON, same text.
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", unsigned(unit));
                out.append(buffer);
            } else if (unit < 0x80) {
                out.append(char(unit));
            } else {
                out.append(QString(ch).toUtf8());
            }
        }
    }
    out.append('"');
}

void appendField(QByteArray &out, const char *name, const QString &text, bool first = false)
{
    if (!first)
        out.append(',');
    out.append('"').append(name).append("\":");
    appendString(out, text);
}

void appendEntry(QByteArray &out, const TAppItem &entry)
{
    out.append('{');
    appendField(out, "KeyName", entry.KeyName, true);
    appendField(out, "KeyPath", entry.KeyPath);
    appendField(out, "DisplayName", entry.DisplayName);
    appendField(out, "DisplayVersion", entry.DisplayVersion);
    appendField(out, "InstallLocation", entry.InstallLocation);
    appendField(out, "ModifyPath", entry.ModifyPath);
    appendField(out, "Publisher", entry.Publisher);
    appendField(out, "UrlInfoAbout", entry.UrlInfoAbout);
    appendField(out, "UninstallString", entry.UninstallString);
    appendField(out, "QuietUninstallString", entry.QuietUninstallString);
    out.append(",\"IconPaths\":[");
    for (qsizetype i = 0; i < entry.IconPaths.size(); ++i) {
        if (i > 0)
            out.append(',');
        appendString(out, entry.IconPaths.at(i));
    }
    out.append("],\"EstimatedSize\":").append(QByteArray::number(entry.EstimatedSize));
    out.append(",\"IsHotfix\":").append(entry.IsHotfix ? "true" : "false");
    out.append(",\"SubItems\":[");
    for (qsizetype i = 0; i < entry.SubItems.size(); ++i) {
        const TAppSubItem &patch = *entry.SubItems.at(i);
        if (i > 0)
            out.append(',');
        out.append('{');
        appendField(out, "PatchCode", patch.PatchCode, true);
        appendField(out, "KeyPath", patch.KeyPath);
        appendField(out, "DisplayName", patch.DisplayName);
        appendField(out, "MoreInfoURL", patch.MoreInfoURL);
        appendField(out, "UninstallCommand", patch.UninstallCommand);
        appendField(out, "Installed", patch.Installed);
        out.append(",\"Uninstallable\":").append(patch.Uninstallable ? "true" : "false");
        out.append('}');
    }
    out.append("]}");
}

void appendList(QByteArray &out, const TAppItems &entries)
{
    out.append('[');
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (i > 0)
            out.append(",\n");
        appendEntry(out, *entries.at(i));
    }
    out.append(']');
}

} // namespace

QByteArray InventoryJson(const TApplications &inventory)
{
    QByteArray out;
    out.reserve(512 * (inventory.Applications.size() + inventory.Hotfixes.size()) + 64);
    out.append("{\"KeyCount\":").append(QByteArray::number(inventory.KeyCount));
    out.append(",\n\"Applications\":");
    appendList(out, inventory.Applications);
    out.append(",\n\"Hotfixes\":");
    appendList(out, inventory.Hotfixes);
    out.append("}\n");
    return out;
}

} // namespace kelvane
