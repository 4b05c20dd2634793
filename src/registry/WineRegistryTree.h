// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The key tree of a WineRegistryFile, shared by its source files.
//
// A large registry has hundreds of thousands of keys, and a hostile file
// can name millions in a few megabytes: a key costs a fixed 40 bytes and
// refers to its name in the file's bytes instead of holding a copy. What only
// some keys need (the value index of a key that was read, an edit, the
// further blocks of a key named twice, subkeys changed by an edit) lives in
// an Extra made on demand.

#include "WineRegistryFile.h"
#include "WineRegistryFormat.h"

#include <QList>

#include <memory>
#include <string>
#include <vector>

namespace kelvane {

// Where a clean key's value is: the line that first spells its name and the
// line that defines it last (Wine merges a name written twice).
struct WineRegistryFile::ValueRef
{
    quint32 nameLine;
    quint32 dataLine;
    quint32 nameHash; // of the folded name: most lookups compare only this
    quint32 plainSize; // the name's bytes when plain ASCII without escapes, else NotPlain

    static constexpr quint32 NotPlain = ~quint32(0);
    // The name as the line spells it.
    void readName(const char *data, const char *end, winereg::ValueName &name) const
    {
        if (plainSize != NotPlain)
            name.setPlain(data + nameLine, plainSize);
        else
            name.read(data + nameLine, end);
    }
};

// An edited key: written anew from these instead of its blocks.
struct WineRegistryFile::Edit
{
    // When we changed it: unix seconds for the key line, FILETIME for #time.
    qint64 stampSeconds = 0;
    quint64 stampFiletime = 0;
    QByteArray classLine; // "#class=..." as written
    QList<RegistryValue> values; // kept in Wine's order
};

struct WineRegistryFile::Extra
{
    std::vector<quint32> moreBlocks; // where the file names the key again
    std::vector<ValueRef> index; // a clean key once read: by name, in Wine's order
    std::unique_ptr<Edit> edit;
    std::vector<Key *> ownChildren; // once an edit added or removed subkeys
    std::vector<quint32> childTable; // the subkeys as loaded, by name, for a key with many (findChild)
};

struct WineRegistryFile::Key
{
    enum Flag : quint32 {
        Link = 1,        // #link: lookups pass through it
        Indexed = 2,     // its value lines were read
        DecodedName = 4, // the name is in Tree::names, not in the file's bytes
        OwnChildren = 8, // children points into extra->ownChildren
    };

    Key *parent = nullptr;
    union {
        Key **children = nullptr; // childCount of them, in Wine's order
        Key *nextInBucket; // only while loading, before children are laid out
    };
    std::unique_ptr<Extra> extra;
    quint32 nameAt = 0; // where the name starts: in the file's bytes, or in Tree::names
    quint32 block = 0; // where the key's first line starts; 0 for none (line 1 is the header)
    quint32 childCount = 0;
    quint32 nameSize : 28 = 0;
    quint32 flags : 4 = 0;

    static constexpr qsizetype MaxNameSize = (1 << 28) - 1;

    bool has(Flag flag) const { return (flags & flag) != 0; }
    bool isEdited() const { return extra && extra->edit; }
    Edit &edit() const { return *extra->edit; }
    Extra &ensureExtra()
    {
        if (!extra)
            extra = std::make_unique<Extra>();
        return *extra;
    }
    template<typename Visit>
    void forEachBlock(Visit visit) const
    {
        if (block)
            visit(block);
        if (extra)
            for (const quint32 more : extra->moreBlocks)
                visit(more);
    }
};

static_assert(sizeof(WineRegistryFile::Key) <= 40, "a key's cost bounds what a hostile file can take");

// Every key of a file, in blocks that never move; a deleted key stays
// until the file is loaded again.
class WineRegistryFile::KeyArena
{
public:
    Key *add()
    {
        if ((m_size & (ChunkKeys - 1)) == 0)
            m_chunks.push_back(std::make_unique<Key[]>(ChunkKeys));
        Key *key = &m_chunks.back()[m_size & (ChunkKeys - 1)];
        ++m_size;
        return key;
    }
    Key *at(quint32 index) const { return &m_chunks[index / ChunkKeys][index & (ChunkKeys - 1)]; }
    quint32 size() const { return m_size; }

private:
    // 40 KB a block: small enough to come from the heap (huge pages for
    // kelvane-list), large enough that the block list stays short.
    static constexpr quint32 ChunkKeys = 1024;
    std::vector<std::unique_ptr<Key[]>> m_chunks;
    quint32 m_size = 0;
};

struct WineRegistryFile::Tree
{
    KeyArena keys;
    std::vector<Key *> children; // the subkeys of every key as loaded, each key's in one run
    std::u16string names; // names that are not plain ASCII in the file, and names given by edits
    Key *root = nullptr;
};

// Keys refer to their names and lines by 32-bit offsets: throws Error for a
// registry of `size` bytes (named `name` in messages) that they cannot reach.
void checkRegistrySize(qint64 size, const QString &name);

// Calls f with the key's name: a QLatin1StringView into the file's bytes,
// or a QStringView of a decoded name.
template<typename F>
decltype(auto) WineRegistryFile::withName(const Key *key, F &&f) const
{
    return withName(m_bytes.constData(), *m_tree, key, std::forward<F>(f));
}

template<typename F>
decltype(auto) WineRegistryFile::withName(const char *bytes, const Tree &tree, const Key *key, F &&f)
{
    if (key->has(Key::DecodedName))
        return f(QStringView(tree.names.data() + key->nameAt, qsizetype(key->nameSize)));
    return f(QLatin1StringView(bytes + key->nameAt, qsizetype(key->nameSize)));
}

} // namespace kelvane
