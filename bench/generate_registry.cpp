// SPDX-License-Identifier: GPL-3.0-or-later
// Adds synthetic uninstall entries to a Wine system.reg, so scans can be
// timed on registries of realistic shape and size; or makes the hostile
// files whose memory the benchmark watches.
#include "host/Error.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr qint64 kUnixTime = 1733650000; // fixed so runs produce the same bytes

// Wine's string escaping: backslash and quote.
QByteArray quoted(const QString &text)
{
    QByteArray out = text.toUtf8();
    out.replace('\\', "\\\\");
    out.replace('"', "\\\"");
    return '"' + out + '"';
}

QByteArray keyPath(const QString &path)
{
    QByteArray out = path.toUtf8();
    out.replace('\\', "\\\\");
    return out;
}

// One key as the file holds it: its header line and its value lines.
struct Block
{
    QStringList components; // the path, for ordering
    QByteArray header;
    QList<QPair<QByteArray, QByteArray>> values; // name, whole line(s)
};

// Wine keeps subkeys and values sorted by name, without regard to case, and
// saves them in that order: the synthetic keys are written the same way.
bool pathLess(const Block &a, const Block &b)
{
    const qsizetype n = std::min(a.components.size(), b.components.size());
    for (qsizetype i = 0; i < n; ++i)
        if (const int c = a.components[i].compare(b.components[i], Qt::CaseInsensitive))
            return c < 0;
    return a.components.size() < b.components.size();
}

class Writer
{
public:
    void key(const QString &path)
    {
        Block block;
        block.components = path.split(u'\\');
        block.header = "\n[" + keyPath(path) + "] " + QByteArray::number(kUnixTime) + '\n';
        // FILETIME of the same moment
        const quint64 filetime = (quint64(kUnixTime) + 11644473600ULL) * 10000000ULL;
        block.header += "#time=" + QByteArray::number(filetime, 16) + '\n';
        m_blocks.push_back(std::move(block));
    }
    void str(const char *name, const QString &value) { add(name, '"' + QByteArray(name) + "\"=" + quoted(value) + '\n'); }
    void dword(const char *name, quint32 value)
    {
        add(name, '"' + QByteArray(name) + "\"=dword:" + QByteArray::number(value, 16).rightJustified(8, '0') + '\n');
    }
    // Wrapped like Wine does: a trailing backslash and two spaces of indent.
    void hex(const char *name, const QByteArray &bytes)
    {
        QByteArray text;
        QByteArray line = '"' + QByteArray(name) + "\"=hex:";
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            line += QByteArray::number(quint8(bytes[i]), 16).rightJustified(2, '0');
            if (i + 1 < bytes.size()) {
                line += ',';
                if (line.size() > 76) {
                    text += line + "\\\n";
                    line = "  ";
                }
            }
        }
        add(name, text + line + '\n');
    }

    // The base file's keys and the synthetic ones, all in Wine's order.
    QByteArray merged(const QByteArray &base) const
    {
        qsizetype first = base.indexOf("\n[");
        if (first < 0)
            first = base.size();
        std::vector<Block> blocks;
        for (qsizetype at = first; at < base.size();) {
            qsizetype next = base.indexOf("\n[", at + 1);
            if (next < 0)
                next = base.size();
            Block block;
            const qsizetype close = base.indexOf("] ", at);
            const QString path = QString::fromUtf8(base.mid(at + 2, close - at - 2));
            block.components = path.split(u"\\\\"_s);
            block.header = base.mid(at, next - at);
            blocks.push_back(std::move(block));
            at = next;
        }
        blocks.insert(blocks.end(), m_blocks.begin(), m_blocks.end());
        std::stable_sort(blocks.begin(), blocks.end(), pathLess);
        QByteArray out = base.left(first);
        for (Block &block : blocks) {
            std::stable_sort(block.values.begin(), block.values.end(), [](const auto &a, const auto &b) {
                return qstricmp(a.first.constData(), b.first.constData()) < 0;
            });
            out += block.header;
            for (const auto &value : block.values)
                out += value.second;
        }
        return out;
    }

private:
    void add(const char *name, const QByteArray &line) { m_blocks.back().values.append({QByteArray(name), line}); }

    std::vector<Block> m_blocks;
};

QString guid(std::mt19937 &rng)
{
    std::uniform_int_distribution<int> digit(0, 15);
    QString g;
    for (int i = 0; i < 32; ++i) {
        if (i == 8 || i == 12 || i == 16 || i == 20)
            g += u'-';
        g += QChar(u"0123456789ABCDEF"[digit(rng)]);
    }
    return u'{' + g + u'}';
}

// Windows Installer's packed form: the first three groups reversed whole,
// the remaining bytes with their two hex digits swapped.
QString packedGuid(const QString &braced)
{
    const QString g = braced.mid(1, 36).remove(u'-');
    auto reversed = [](QStringView s) {
        QString r;
        for (qsizetype i = s.size() - 1; i >= 0; --i)
            r += s[i];
        return r;
    };
    QString out = reversed(QStringView(g).mid(0, 8)) + reversed(QStringView(g).mid(8, 4)) + reversed(QStringView(g).mid(12, 4));
    for (qsizetype i = 16; i < 32; i += 2)
        out += QString(g[i + 1]) + g[i];
    return out;
}

// The 552-byte ARPCache record: size (int64) at 8, program path (UTF-16LE) at 28.
QByteArray slowInfoCache(qint64 size, const QString &path)
{
    QByteArray bytes(552, '\0');
    auto putLe = [&bytes](int offset, quint64 value, int width) {
        for (int i = 0; i < width; ++i)
            bytes[offset + i] = char((value >> (8 * i)) & 0xff);
    };
    putLe(0, 552, 4);
    putLe(4, 1, 4); // has a name
    putLe(8, quint64(size), 8);
    putLe(16, (quint64(kUnixTime) + 11644473600ULL) * 10000000ULL, 8);
    putLe(24, 3, 4); // times used
    const QString name = path.left(259);
    for (qsizetype i = 0; i < name.size(); ++i)
        putLe(28 + int(2 * i), name[i].unicode(), 2);
    return bytes;
}

const QStringList kPublishers = {u"Northwind Software"_s, u"Contoso Ltd."_s, u"Fabrikam, Inc."_s,
                                 u"Adventure Works"_s, u"Tailspin Toys"_s, u"Litware \"Labs\""_s,
                                 u"Wide World Importers"_s, u"Proseware"_s};
const QStringList kWords = {u"Photo"_s, u"Studio"_s, u"Audio"_s, u"Manager"_s, u"Toolkit"_s, u"Viewer"_s,
                            u"Editor"_s, u"Sync"_s, u"Runtime"_s, u"Backup"_s, u"Déjà"_s, u"Player"_s};
const QStringList kSids = {u"S-1-5-18"_s, u"S-1-5-21-1004336348-1177238915-682003330-1001"_s};

QByteArray withEntries(const QByteArray &base, int count)
{
    std::mt19937 rng(20261208);
    std::uniform_int_distribution<int> percent(0, 99);
    Writer w;
    const QString uninstall = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"_s;
    for (int i = 0; i < count; ++i) {
        const QString publisher = kPublishers[i % kPublishers.size()];
        const QString product = kWords[rng() % kWords.size()] + u' ' + kWords[rng() % kWords.size()] + u' '
                                + QString::number(i);
        const QString version = u"%1.%2.%3"_s.arg(rng() % 20).arg(rng() % 10).arg(rng() % 1000);
        const QString folder = u"C:\\Program Files\\"_s + QString(publisher).remove(u'"') + u'\\' + product;
        const bool msi = percent(rng) < 20;
        QString keyName;
        QString uninstallString;
        if (msi) {
            keyName = guid(rng);
            uninstallString = u"MsiExec.exe /X"_s + keyName;
        } else {
            keyName = u"Bench"_s + QString(product).remove(u' ');
            uninstallString = u'"' + folder + u"\\uninstall.exe\""_s;
        }
        w.key(uninstall + keyName);
        w.str("DisplayName", product);
        w.str("DisplayVersion", version);
        w.str("Publisher", publisher);
        w.str("InstallLocation", folder);
        w.str("UninstallString", uninstallString);
        if (!msi && i % 3 == 0)
            w.str("QuietUninstallString", u'"' + folder + u"\\uninstall.exe\" /S"_s);
        w.str("DisplayIcon", folder + u"\\app.exe,0"_s);
        w.dword("EstimatedSize", 1024 + rng() % 500000);
        w.str("URLInfoAbout", u"https://example.com/"_s + QString::number(i));
        if (msi) {
            w.dword("WindowsInstaller", 1);
            const QString packed = packedGuid(keyName);
            w.key(u"Software\\Classes\\Installer\\Products\\"_s + packed);
            w.str("ProductName", product);
            w.dword("Version", 0x01000000);
            if (i % 4 == 0) {
                const QString patch = packedGuid(guid(rng));
                for (const QString &sid : kSids) {
                    w.key(u"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\"_s + sid
                          + u"\\Products\\"_s + packed + u"\\Patches\\"_s + patch);
                    w.dword("State", 1);
                    w.str("DisplayName", product + u" Update 1"_s);
                    w.str("MoreInfoURL", u"https://example.com/kb/"_s + QString::number(i));
                }
            }
        }
        if (i % 2 == 0) {
            w.key(u"Software\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache\\"_s + keyName);
            w.hex("SlowInfoCache", slowInfoCache(qint64(1 + rng() % 400000) * 1024, folder + u"\\app.exe"_s));
            w.hex("Changed", QByteArray(4, '\0'));
        }
    }
    return w.merged(base);
}

// Files made to exhaust a reader's memory, each of about `size` bytes: key
// lines with nothing in them ("\n[" over and over), short key lines that
// each name a key of their own, or the smallest Uninstall entries there are
// (each becomes an application record of the inventory).
QByteArray hostile(const QString &shape, qint64 size)
{
    QByteArray out = "WINE REGISTRY Version 2\n";
    if (shape == u"empty-key-lines"_s)
        return out + QByteArray("\n[").repeated(qsizetype(size / 2));
    if (shape == u"key-lines"_s) {
        out.reserve(qsizetype(size) + 64);
        for (qint64 i = 0; out.size() < size; ++i)
            out += "[Software\\\\K" + QByteArray::number(i).rightJustified(7, '0') + "]\n";
        return out;
    }
    if (shape == u"minimal-entries"_s) {
        out.reserve(qsizetype(size) + 128);
        for (qint64 i = 0; out.size() < size; ++i)
            out += "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\E"
                   + QByteArray::number(i) + "]\n\"UninstallString\"=\"x\"\n";
        return out;
    }
    throw kelvane::Error(u"unknown shape %1 (empty-key-lines, key-lines, minimal-entries)"_s.arg(shape));
}

void save(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw kelvane::Error(u"%1: cannot write: %2"_s.arg(path, file.errorString()));
}

void run(const QStringList &args)
{
    bool ok = false;
    if (args.size() == 5 && args[1] == u"--hostile"_s) {
        const qint64 size = args[3].toLongLong(&ok);
        if (!ok || size < 0)
            throw kelvane::Error(u"usage: kelvane-bench-generate --hostile SHAPE BYTES OUT_FILE"_s);
        save(args[4], hostile(args[2], size));
        return;
    }
    const int count = args.value(2).toInt(&ok);
    if (args.size() != 4 || !ok || count < 0)
        throw kelvane::Error(u"usage: kelvane-bench-generate BASE_SYSTEM_REG N OUT_FILE\n"
                             u"       kelvane-bench-generate --hostile empty-key-lines|key-lines|minimal-entries BYTES OUT_FILE"_s);
    QFile base(args[1]);
    if (!base.open(QIODevice::ReadOnly))
        throw kelvane::Error(u"%1: cannot read: %2"_s.arg(args[1], base.errorString()));
    QByteArray out = base.readAll();
    if (!out.startsWith("WINE REGISTRY Version 2"))
        throw kelvane::Error(u"%1: not a Wine registry file"_s.arg(args[1]));
    if (!out.endsWith('\n'))
        out += '\n';
    save(args[3], withEntries(out, count));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    try {
        run(app.arguments());
    } catch (const kelvane::Error &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
