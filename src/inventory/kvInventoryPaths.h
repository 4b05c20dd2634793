#pragma once

#include <QLatin1StringView>

#include <array>

// Fixed registry locations and names of the inventory, in one place until the
// configuration unit takes them over. Paths are absolute below
// HKEY_LOCAL_MACHINE (leading backslash).
namespace kelvane {

inline constexpr QLatin1StringView KeyUninstall("\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
// Entries of 32-bit installers on a 64-bit Windows.
inline constexpr QLatin1StringView KeyUninstallWow64(
    "\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
inline constexpr QLatin1StringView KeyInstallerProducts("\\SOFTWARE\\Classes\\Installer\\Products");
inline constexpr QLatin1StringView KeyArpCache(
    "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache");
inline constexpr QLatin1StringView KeyInstallerUserData(
    "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData");

inline constexpr QLatin1StringView HotfixPattern("*KB[0-9][0-9][0-9][0-9][0-9][0-9]*");
// 1-based positions before which a braced GUID has its dashes.
inline constexpr std::array<int, 4> GuidDashPositions{9, 14, 19, 24};
inline constexpr QLatin1StringView UpdateTypeName("Update");
// The program list's group node of the Windows hotfixes.
inline constexpr QLatin1StringView WindowsName("Microsoft Windows");

} // namespace kelvane
