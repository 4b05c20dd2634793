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

// Sets or clears the override in the effective set; the permitted set stays,
// so it can be raised again.
bool setOverride(bool on)
{
    __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2] {};
    if (::syscall(SYS_capget, &header, caps) != 0)
        return false;
    caps[0].effective = on ? caps[0].effective | (caps[0].permitted & overrideMask())
                           : caps[0].effective & ~overrideMask();
    return ::syscall(SYS_capset, &header, caps) == 0;
}

} // namespace

bool dropRootOverrideForGood()
{
    __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2] {};
    if (::syscall(SYS_capget, &header, caps) != 0)
        return false;
    caps[0].effective &= ~overrideMask();
    caps[0].permitted &= ~overrideMask();
    caps[0].inheritable &= ~overrideMask();
    return ::syscall(SYS_capset, &header, caps) == 0;
}

FileModesApply::FileModesApply()
{
    if (::geteuid() != 0)
        return;
    m_lowered = setOverride(false);
    m_applies = m_lowered;
}

FileModesApply::~FileModesApply()
{
    if (m_lowered)
        setOverride(true);
}

} // namespace kelvane::test
