// SPDX-License-Identifier: GPL-3.0-or-later
// Icons at several numbers and version strings out of arbitrary bytes: from
// memory, and from a file that is cut short after it was opened (the last
// input byte says where), as an uninstaller deleting a program would.
#include "host/HostFile.h"
#include "host/PeResources.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr int Indexes[] = {0, 1, 2, -1, -2, -100, -32768, 65535};

// Whatever comes out was in the input: an image is never made of other bytes.
void checkIcon(const std::optional<kelvane::pe::IconImage> &icon, const QByteArray &bytes)
{
    if (icon && (icon->ico.size() < 22 || !bytes.contains(QByteArrayView(icon->ico).sliced(22))))
        __builtin_trap();
}

void checkStrings(const QList<QPair<QString, QString>> &strings, const QByteArray &bytes)
{
    qsizetype total = 0;
    for (const auto &pair : strings)
        total += pair.first.size() + pair.second.size();
    if (total > bytes.size())
        __builtin_trap();
}

// One file in memory for the whole run, rewritten for every input.
int scratchFile()
{
    static const int fd = memfd_create("fuzz_pe", 0);
    return fd;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const int index : Indexes)
        checkIcon(kelvane::pe::extractIcon(bytes, index), bytes);
    checkStrings(kelvane::pe::versionStrings(bytes, QStringLiteral("040904E4")), bytes);

    const int fd = scratchFile();
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size))
        __builtin_trap();
    const kelvane::HostFile file(QStringLiteral("/proc/self/fd/%1").arg(fd));
    const off_t cut = size == 0 ? 0 : off_t(size * data[size - 1] / 255);
    if (ftruncate(fd, cut) != 0)
        __builtin_trap();
    for (const int index : Indexes)
        checkIcon(kelvane::pe::extractIcon(file, index), bytes);
    checkStrings(kelvane::pe::versionStrings(file, QStringLiteral("040904E4")), bytes);
    return 0;
}
