// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileModes.h"

#include <cstdint>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kelvane::test {

namespace {

constexpr std::uint32_t overrideMask()
{
    return CAP_TO_MASK(CAP_DAC_OVERRIDE) | CAP_TO_MASK(CAP_DAC_READ_SEARCH);
}

struct Capabilities
{
    __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] {};

    bool read() { return ::syscall(SYS_capget, &header, data) == 0; }
    bool write() { return ::syscall(SYS_capset, &header, data) == 0; }
};

} // namespace

bool dropRootOverrideForGood()
{
    Capabilities caps;
    if (!caps.read())
        return false;
    caps.data[0].effective &= ~overrideMask();
    caps.data[0].permitted &= ~overrideMask();
    caps.data[0].inheritable &= ~overrideMask();
    return caps.write();
}

FileModesApply::FileModesApply()
{
    // Lowering needs no privilege; a process without the override has nothing to lower.
    Capabilities caps;
    if (!caps.read()) {
        m_applies = false;
        return;
    }
    m_savedEffective = caps.data[0].effective;
    if ((m_savedEffective & overrideMask()) == 0)
        return;
    caps.data[0].effective &= ~overrideMask();
    m_lowered = caps.write();
    m_applies = m_lowered;
}

FileModesApply::~FileModesApply()
{
    if (!m_lowered)
        return;
    Capabilities caps;
    if (caps.read()) {
        caps.data[0].effective = m_savedEffective;
        caps.write();
    }
}

} // namespace kelvane::test
