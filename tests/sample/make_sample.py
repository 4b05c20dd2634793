#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes data/sample/: a Windows XP machine's HKLM as Wine's system.reg, and
the drive_c files its commands and icons point to.

Run from the source tree root: python3 tests/sample/make_sample.py
The output is deterministic, so a rerun gives the committed files again.
"""

import os
import shutil
import struct
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
OUT = os.path.join(ROOT, "data", "sample")

UNINSTALL = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
WOW_UNINSTALL = "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
PRODUCTS = "Software\\Classes\\Installer\\Products"
ARPCACHE = "Software\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache"
USERDATA = "Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData"
SYSTEM_SID = "S-1-5-18"
USER_SID = "S-1-5-21-1482476501-1644491937-682003330-1004"

BASE_TIME = 1215158400  # 2008-07-04, the machine's install day


# ------------------------------------------------------------------ values

class Sz(str):
    pass


class ExpandSz(str):
    pass


class MultiSz(list):
    pass


class Dword(int):
    pass


class Binary(bytes):
    pass


CONTROL_ESCAPES = {"\a": "a", "\b": "b", "\t": "t", "\n": "n", "\v": "v", "\f": "f", "\r": "r", "\x1b": "e"}


def escape(text, in_key=False):
    """Wine's escapes: pure ASCII out; control characters in octal, padded to 3
    digits when an octal digit follows; others as \\x, padded to 4 digits when a
    hex digit follows."""
    out = []
    for i, ch in enumerate(text):
        code = ord(ch)
        nxt = text[i + 1] if i + 1 < len(text) else ""
        if ch == "\\":
            out.append("\\\\")
        elif ch == '"' and not in_key:
            out.append('\\"')
        elif in_key and ch in "[]":
            out.append("\\" + ch)
        elif ch in CONTROL_ESCAPES:
            out.append("\\" + CONTROL_ESCAPES[ch])
        elif code < 0x20:
            out.append(("\\%03o" if nxt and nxt in "01234567" else "\\%o") % code)
        elif code > 0x7e:
            if nxt and nxt in "0123456789abcdefABCDEF":
                out.append("\\x%04x" % code)
            else:
                out.append("\\x%x" % code)
        else:
            out.append(ch)
    return "".join(out)


def hex_bytes(prefix, data):
    """Bytes as Wine writes them: a line break once a line passes 76 characters."""
    out = [prefix]
    count = len(prefix)
    for i, b in enumerate(data):
        out.append("%02x" % b)
        count += 2
        if i + 1 < len(data):
            out.append(",")
            count += 1
            if count > 76:
                out.append("\\\n  ")
                count = 2
    return "".join(out)


def format_value(name, value):
    head = "@=" if name == "" else '"%s"=' % escape(name)
    if isinstance(value, Dword):
        return head + "dword:%08x" % (value & 0xFFFFFFFF)
    if isinstance(value, Binary):
        return hex_bytes(head + "hex:", value)
    if isinstance(value, MultiSz):
        return head + 'str(7):"' + escape("".join(s + "\0" for s in value)) + '"'
    if isinstance(value, ExpandSz):
        return head + 'str(2):"' + escape(value) + '"'
    return head + '"' + escape(value) + '"'


# ------------------------------------------------------------------ registry

class Registry:
    def __init__(self):
        self.keys = {}  # path -> (time, {name: value})

    def set(self, path, values, time=BASE_TIME):
        _, old = self.keys.get(path, (time, {}))
        old.update(values)
        self.keys[path] = (time, old)

    def write(self, filename):
        def order(path):
            return [part.lower() for part in path.split("\\")]
        lines = ["WINE REGISTRY Version 2", ";; All keys relative to REGISTRY\\\\Machine", "", "#arch=win32", ""]
        for path in sorted(self.keys, key=order):
            time, values = self.keys[path]
            filetime = (time + 11644473600) * 10000000 + (hash_fraction(path) % 10000000)
            lines.append("[%s] %d" % (escape(path, in_key=True), time))
            lines.append("#time=%x" % filetime)
            for name in sorted(values, key=str.lower):
                lines.append(format_value(name, values[name]))
            lines.append("")
        with open(filename, "w", encoding="ascii", newline="\n") as f:
            f.write("\n".join(lines) + "\n")


def hash_fraction(text):
    # Deterministic sub-second part of the FILETIME (Python's hash() is salted).
    h = 2166136261
    for ch in text.encode("utf-8"):
        h = ((h ^ ch) * 16777619) & 0xFFFFFFFF
    return h


def pack_guid(braced):
    """Windows Installer's packed code: groups 1-3 reversed whole, the rest by swapped pairs."""
    parts = braced.strip("{}").split("-")
    out = [p[::-1] for p in parts[:3]]
    for p in parts[3:]:
        out.append("".join(p[i:i + 2][::-1] for i in range(0, len(p), 2)))
    return "".join(out)


def arp_record(size, program):
    """SlowInfoCache: cbSize, has-name flag, size (int64), last use, times used, path (262 UTF-16 units)."""
    name = program.encode("utf-16-le")[: 261 * 2]
    record = struct.pack("<IIqQi", 552, 1 if program else 0, size, 0x01c8dd8c4a3b2000, 3)
    record += name + b"\0" * (524 - len(name))
    assert len(record) == 552
    return Binary(record)


# ------------------------------------------------------------------ files

FILES = set()      # drive_c files to create (Windows paths)
ICONS = {}         # Windows path of an .ico -> colour
MISSING = set()    # paths named in the registry but deliberately absent


def host(winpath):
    assert winpath[:3].upper() == "C:\\"
    return os.path.join(OUT, "drive_c", *winpath[3:].split("\\"))


def need(winpath):
    FILES.add(winpath)
    return winpath


def icon(winpath, colour):
    ICONS[winpath] = colour
    return winpath


def missing(winpath):
    MISSING.add(winpath)
    return winpath


PF = "C:\\Program Files"


# ------------------------------------------------------------------ the machine

def build():
    reg = Registry()
    nt = "Software\\Microsoft\\Windows NT\\CurrentVersion"
    reg.set(nt, {
        "CurrentVersion": Sz("5.1"), "CurrentBuildNumber": Sz("2600"), "CurrentBuild": Sz("2600.xpsp.080413-2111"),
        "ProductName": Sz("Microsoft Windows XP"), "CSDVersion": Sz("Service Pack 3"),
        "CurrentType": Sz("Uniprocessor Free"), "RegisteredOwner": Sz("Martine Duval"),
        "RegisteredOrganization": Sz(""), "SystemRoot": Sz("C:\\WINDOWS"), "PathName": Sz("C:\\WINDOWS"),
        "SoftwareType": Sz("SYSTEM"), "InstallDate": Dword(BASE_TIME),
    })
    reg.set("Software\\Microsoft\\Windows\\CurrentVersion", {
        "ProgramFilesDir": Sz(PF), "CommonFilesDir": Sz(PF + "\\Common Files"),
        "DevicePath": ExpandSz("%SystemRoot%\\inf"), "ProductId": Sz("76487-OEM-0011903-00102"),
    })

    t = [BASE_TIME]

    def entry(key, values, root=UNINSTALL):
        t[0] += 86400 + 3917
        reg.set(root + "\\" + key, values, t[0])

    def cache(key, size, program):
        reg.set(ARPCACHE + "\\" + key, {"Changed": Dword(0), "SlowInfoCache": arp_record(size, program)}, t[0])

    # --- NSIS-style entries
    d = PF + "\\Larkspur Notes"
    entry("Larkspur Notes", {
        "DisplayName": Sz("Larkspur Notes 3.2"), "DisplayVersion": Sz("3.2.1"), "Publisher": Sz("Larkspur Software"),
        "UninstallString": Sz(need(d + "\\uninst.exe")), "DisplayIcon": Sz(icon(d + "\\notes.ico", "#d9a93b") + ",0"),
        "URLInfoAbout": Sz("http://www.larkspur-software.example/notes"), "InstallLocation": Sz(d),
        "EstimatedSize": Dword(1500), "NoModify": Dword(1), "NoRepair": Dword(1),
    })
    d = PF + "\\Quillfeather"
    entry("Quillfeather", {
        "DisplayName": Sz("Quillfeather Editor"), "DisplayVersion": Sz("1.9"), "Publisher": Sz("Quillfeather Project"),
        "UninstallString": Sz('"' + need(d + "\\uninstall.exe") + '"'),
        "QuietUninstallString": Sz('"' + d + '\\uninstall.exe" /S'),
        "DisplayIcon": Sz('"' + icon(d + "\\quill.ico", "#4a7bd0") + '",0'),
        "URLInfoAbout": Sz("http://quillfeather.example.org/"), "InstallLocation": Sz(d), "EstimatedSize": Dword(7168),
    })
    d = PF + "\\Otterbrook"
    entry("Otterbrook Player", {
        "DisplayName": Sz("Otterbrook Media Player"), "DisplayVersion": Sz("2.0.4"), "Publisher": Sz("Otterbrook Audio"),
        "UninstallString": Sz(need(d + "\\uninst.exe")), "DisplayIcon": Sz(need(d + "\\player.exe") + ",-101"),
        "InstallLocation": Sz(d),
    })
    cache("Otterbrook Player", 23592960, icon(d + "\\otterbrook.ico", "#2aa198"))
    d = PF + "\\Vantage Toolbar"
    entry("VantageToolbar", {
        "DisplayName": Sz("Vantage Search Toolbar"), "DisplayVersion": Sz("4.1.0.12"), "Publisher": Sz("Vantage Web Ltd."),
        "UninstallString": Sz(missing(d + "\\uninstall.exe")), "DisplayIcon": Sz(missing(d + "\\vantage.ico")),
        "URLInfoAbout": Sz("http://toolbar.vantage.example/"),
    })
    d = PF + "\\Corvid FTP"
    entry("Corvid FTP", {
        "DisplayName": Sz("Corvid FTP Client"), "Publisher": Sz("Corvid Networks"),
        "ApplicationVersion": Sz("0.98 beta"), "HelpLink": Sz("http://help.corvid.example/ftp"),
        "UninstallString": Sz('"' + need(d + "\\uninst.exe") + '"'),
        "DisplayIcon": Sz(icon(d + "\\corvid.ico", "#586e75")),
    })
    d = PF + "\\Marlow Fonts"
    entry("MarlowFonts", {
        "QuietDisplayName": Sz("Marlow Font Pack"), "Publisher": Sz("Marlow Type Foundry"),
        "UninstallString": Sz(need(d + "\\uninst.exe")), "EstimatedSize": Dword(0),
    })
    cache("MarlowFonts", 5242880, "")
    entry("NimbusAgent", {
        "UninstallString": Sz(need(PF + "\\Nimbus\\agent-uninstall.exe") + " /remove"),
        "Publisher": Sz("Nimbus Cloud Storage"),
    })
    entry("Tessellate Runtime", {
        "DisplayName": Sz("Tessellate Runtime Components"), "DisplayVersion": Sz("1.0.3"),
        "Publisher": Sz("Tessellate Labs"), "SystemComponent": Dword(1),
    })
    d = PF + "\\Heron Backup"
    entry("HeronBackupSilent", {
        "DisplayName": Sz("Heron Backup Agent"), "DisplayVersion": Sz("5.0"), "Publisher": Sz("Heron Data Systems"),
        "QuietUninstallString": Sz('"' + need(d + "\\heron-setup.exe") + '" /uninstall /quiet'),
        "DisplayIcon": Sz(icon(d + "\\heron.ico", "#6c71c4")), "EstimatedSize": Dword(20480),
    })
    d = PF + "\\Driftwood Solitaire"
    entry("Driftwood Solitaire", {
        "DisplayName": Sz("Driftwood Solitaire Collection"), "DisplayVersion": Sz("2.5"),
        "Publisher": Sz("Driftwood Games"), "UninstallString": Sz(need(d + "\\uninstall.exe")),
        "ModifyPath": Sz(need(d + "\\setup.exe") + " /modify"),
        "DisplayIcon": Sz(icon(d + "\\cards.ico", "#dc322f") + ",0"),
        "URLInfoAbout": Sz("http://www.driftwood-games.example/"), "EstimatedSize": Dword(48213),
    })
    d = PF + "\\Sparrow Clock"
    entry("SparrowClock", {
        "DisplayName": Sz("Sparrow Clock"), "Publisher": Sz("Sparrow Utilities"),
        "UninstallString": Sz(need(d + "\\uninst.exe")), "EstimatedSize": Sz("2048"),
    })
    cache("SparrowClock", 3145728, d + "\\sparrow.exe")
    need(d + "\\sparrow.exe")
    entry("KB12345", {
        "DisplayName": Sz("Keyboard Buddy"), "DisplayVersion": Sz("1.2"), "Publisher": Sz("Lindqvist Tools"),
        "UninstallString": Sz(need(PF + "\\Keyboard Buddy\\uninst.exe")),
    })
    entry("Q925902", {
        "DisplayName": Sz("Quokka Diagram Viewer"), "DisplayVersion": Sz("7.0"), "Publisher": Sz("Quokka Visual"),
        "UninstallString": Sz(need(PF + "\\Quokka\\uninstall.exe")),
    })
    d = PF + "\\Pinecone Archiver"
    entry("Pinecone Archiver", {
        "DisplayName": Sz("Pinecone Archiver"), "DisplayVersion": Sz("9.20"), "Publisher": Sz("Pinecone"),
        "UninstallString": Sz(need(d + "\\Uninstall.exe")), "DisplayIcon": Sz(icon(d + "\\pinecone.ico", "#859900")),
    })
    entry("Pinecone Archiver 9.10", {
        "DisplayName": Sz("Pinecone Archiver"), "DisplayVersion": Sz("9.10"), "Publisher": Sz("Pinecone"),
        "UninstallString": Sz(missing(PF + "\\Pinecone Archiver 9.10\\Uninstall.exe")),
    })

    # --- a few ordinary ones
    for key, name, version, publisher, folder, colour, size in [
        ("Gannet Disc Burner", "Gannet Disc Burner 6", "6.0.2", "Gannet Media", "Gannet", "#268bd2", 31744),
        ("PtarmiganReader", "Ptarmigan PDF Reader", "8.1.2", "Ptarmigan Documents", "Ptarmigan", "#dc322f", 61440),
        ("Bittern Antivirus", "Bittern Antivirus Free", "2008.3", "Bittern Security", "Bittern", "#859900", 96256),
        ("Curlew Tray Weather", "Curlew Tray Weather", "1.0.7", "Curlew", "Curlew", "#b58900", 640),
    ]:
        d = PF + "\\" + folder
        entry(key, {
            "DisplayName": Sz(name), "DisplayVersion": Sz(version), "Publisher": Sz(publisher),
            "UninstallString": Sz('"' + need(d + "\\uninstall.exe") + '"'),
            "DisplayIcon": Sz(icon(d + "\\" + folder.lower() + ".ico", colour)), "InstallLocation": Sz(d),
            "EstimatedSize": Dword(size),
        })

    # --- non-ASCII names
    d = PF + "\\M\u00e9lodie"
    entry("M\u00e9lodie", {
        "DisplayName": Sz("\u00c9diteur de partitions M\u00e9lodie"), "DisplayVersion": Sz("2.3"),
        "Publisher": Sz("\u00c9ditions Fauvette"), "UninstallString": Sz(need(d + "\\d\u00e9sinstaller.exe")),
        "DisplayIcon": Sz(icon(d + "\\m\u00e9lodie.ico", "#b58900")), "EstimatedSize": Dword(3500),
    })
    d = PF + "\\Gr\u00f6\u00dfenrechner"
    entry("Gr\u00f6\u00dfenrechner", {
        "DisplayName": Sz("Gr\u00f6\u00dfenrechner f\u00fcr B\u00fcros"), "DisplayVersion": Sz("1.0"),
        "Publisher": Sz("M\u00fcller & S\u00f6hne Software"), "UninstallString": Sz('"' + need(d + "\\unins000.exe") + '"'),
        "DisplayIcon": Sz(icon(d + "\\rechner.ico", "#cb4b16")),
    })
    d = PF + "\\Sakura Viewer"
    entry("SakuraViewer", {
        "DisplayName": Sz("\u3055\u304f\u3089\u753b\u50cf\u30d3\u30e5\u30fc\u30a2"), "DisplayVersion": Sz("3.1"),
        "Publisher": Sz("\u685c\u30bd\u30d5\u30c8"), "UninstallString": Sz(need(d + "\\uninst.exe")),
        "DisplayIcon": Sz(icon(d + "\\sakura.ico", "#d33682")),
    })
    d = PF + "\\Sefer Calc"
    entry("SeferCalc", {
        "DisplayName": Sz("\u05de\u05d7\u05e9\u05d1\u05d5\u05df \u05e1\u05e4\u05e8"), "DisplayVersion": Sz("1.4"),
        "Publisher": Sz("\u05ea\u05d5\u05db\u05e0\u05d4 \u05d8\u05d5\u05d1\u05d4"),
        "UninstallString": Sz(need(d + "\\uninst.exe")), "DisplayIcon": Sz(icon(d + "\\sefer.ico", "#268bd2")),
    })

    # --- Inno Setup
    d = PF + "\\Brightwater Sync"
    entry("Brightwater Sync_is1", {
        "DisplayName": Sz("Brightwater Sync 2.7"), "DisplayVersion": Sz("2.7.0"), "Publisher": Sz("Brightwater Labs"),
        "UninstallString": Sz('"' + need(d + "\\unins000.exe") + '"'),
        "QuietUninstallString": Sz('"' + d + '\\unins000.exe" /SILENT'),
        "DisplayIcon": Sz(icon(d + "\\sync.ico", "#2aa198")), "Inno Setup: App Path": Sz(d),
        "Inno Setup: Setup Version": Sz("5.2.3"), "Inno Setup: Icon Group": Sz("Brightwater Sync"),
        "Inno Setup: User": Sz("Martine"), "Inno Setup: Language": Sz("default"),
        "URLInfoAbout": Sz("http://brightwater.example/"), "HelpLink": Sz("http://brightwater.example/help"),
    })
    cache("Brightwater Sync_is1", 12582912, d + "\\bwsync.exe")
    need(d + "\\bwsync.exe")
    d = PF + "\\Kestrel Photo Tagger"
    entry("{5E2C8A41-93B7-4D0F-A6C2-18F3D7B9E054}_is1", {
        "DisplayName": Sz("Kestrel Photo Tagger version 1.6"), "DisplayVersion": Sz("1.6"),
        "Publisher": Sz("Kestrel Imaging"), "UninstallString": Sz('"' + need(d + "\\unins000.exe") + '"'),
        "QuietUninstallString": Sz('"' + d + '\\unins000.exe" /SILENT'),
        "DisplayIcon": Sz(icon(d + "\\kestrel.ico", "#d9a93b")),
        "InstallLocation": Sz(d + "\\"), "Inno Setup: App Path": Sz(d),
        "Inno Setup: Setup Version": Sz("5.1.13"), "EstimatedSize": Dword(8800),
    })
    d = PF + "\\Wren Mail"
    entry("Wren Mail_is1", {
        "DisplayName": Sz("Wren Mail"), "DisplayVersion": Sz("0.7.2"), "Publisher": Sz("Wren Collective"),
        "UninstallString": Sz('"' + missing(d + "\\unins000.exe") + '"'),
        "Inno Setup: App Path": Sz(d), "Inno Setup: Setup Version": Sz("5.2.2"),
    })
    cache("Wren Mail_is1", -1, d + "\\wrenmail.exe")

    # --- Windows Installer products
    def product(guid, values, name, icon_path, patches=()):
        entry(guid, dict(values, **{
            "UninstallString": Sz("MsiExec.exe /X" + guid), "WindowsInstaller": Dword(1),
            "Version": Dword(0x01000000), "VersionMajor": Dword(1), "VersionMinor": Dword(0),
        }))
        packed = pack_guid(guid)
        pv = {"ProductName": Sz(name), "Language": Dword(1033), "Version": Dword(0x01000000),
              "Assignment": Dword(1), "AdvertiseFlags": Dword(388), "Clients": MultiSz([":"])}
        if icon_path:
            pv["ProductIcon"] = Sz(icon_path)
        reg.set(PRODUCTS + "\\" + packed, pv, t[0])
        by_user = {}
        for sid, patch_guid, pvals in patches:
            by_user.setdefault(sid, []).append(pack_guid(patch_guid))
            reg.set(USERDATA + "\\" + sid + "\\Products\\" + packed + "\\Patches\\" + pack_guid(patch_guid),
                    dict(pvals, State=Dword(1), LUAEnabled=Dword(0), PatchType=Dword(0), MSI3=Dword(1)), t[0])
        for sid, codes in by_user.items():
            reg.set(USERDATA + "\\" + sid + "\\Products\\" + packed + "\\Patches", {"AllPatches": MultiSz(codes)}, t[0])
        if values.get("InstallLocation") or values.get("DisplayName"):
            reg.set(USERDATA + "\\" + SYSTEM_SID + "\\Products\\" + packed + "\\InstallProperties", {
                "DisplayName": Sz(values.get("DisplayName", name)), "LocalPackage": Sz("C:\\WINDOWS\\Installer\\%x.msi"
                                                                                      % (hash_fraction(guid) & 0xfffff)),
            }, t[0])

    g = "{3F1B6C2E-7A94-4E0B-9C51-D2A8E6F40B17}"
    d = PF + "\\Harborline\\Accounting 2007"
    product(g, {
        "DisplayName": Sz("Harborline Accounting 2007"), "DisplayVersion": Sz("12.0.4518"),
        "Publisher": Sz("Harborline Business Software"), "ModifyPath": Sz("MsiExec.exe /I" + g),
        "InstallLocation": Sz(d + "\\"), "DisplayIcon": Sz(icon(d + "\\ledger.ico", "#073642")),
        "URLInfoAbout": Sz("http://www.harborline.example/"), "EstimatedSize": Dword(245760),
        "InstallDate": Sz("20080711"),
    }, "Harborline Accounting 2007", icon("C:\\WINDOWS\\Installer\\" + g + "\\arpicon.ico", "#073642"), patches=[
        (SYSTEM_SID, "{A0C5E9D3-1B27-4F68-8E4A-6D0B93C2F751}", {
            "DisplayName": Sz("Harborline Accounting 2007 Service Pack 1 (SP1)"),
            "MoreInfoURL": Sz("http://support.harborline.example/kb/201"), "Installed": Sz("20080822"),
            "Uninstallable": Dword(0)}),
        (SYSTEM_SID, "{B7E2F410-6C93-4A0D-95E8-1F2C3D4B5A60}", {
            "DisplayName": Sz("Tax Tables Update 2008-Q3"),
            "MoreInfoURL": Sz("http://support.harborline.example/kb/233"), "Installed": Sz("20081003"),
            "Uninstallable": Dword(1)}),
        (USER_SID, "{B7E2F410-6C93-4A0D-95E8-1F2C3D4B5A60}", {
            "DisplayName": Sz("Tax Tables Update 2008-Q3"),
            "MoreInfoURL": Sz("http://support.harborline.example/kb/233"), "Installed": Sz("20081003"),
            "Uninstallable": Dword(1)}),
        (USER_SID, "{c4d8a1f2-93e6-4b07-a5c1-7e0f2d3b9a84}", {
            "MoreInfoURL": Sz("http://support.harborline.example/kb/240"), "Installed": Sz("20081120"),
            "Uninstallable": Dword(1)}),
    ])
    g = "{8D4E2A90-5B1C-4F37-A26E-0C9B7F31D5E8}"
    product(g, {"DisplayVersion": Sz("3.0.112"), "Publisher": Sz("Fennel Instruments"),
                "InstallLocation": Sz(PF + "\\Fennel\\Scope\\")},
            "Fennel Scope Analyzer 3", icon("C:\\WINDOWS\\Installer\\" + g + "\\scope.ico", "#6c71c4"))
    g = "{1A2B3C4D-5E6F-4071-8293-A4B5C6D7E8F9}"
    product(g, {"QuietDisplayName": Sz("Juniper Print Driver Suite"), "Publisher": Sz("Juniper Imaging"),
                "DisplayVersion": Sz("6.2.0.1")}, "", "")
    g = "{E9F0A1B2-C3D4-4E5F-9607-18293A4B5C6D}"
    product(g, {"DisplayName": Sz("Cobalt Data Access Components 2.8"), "DisplayVersion": Sz("2.8.1117"),
                "Publisher": Sz("Cobalt Systems"), "EstimatedSize": Dword(0)},
            "Cobalt Data Access Components 2.8",
            missing("C:\\WINDOWS\\Installer\\" + g + "\\cobalt.ico"), patches=[
        (USER_SID, "{D1E2F3A4-B5C6-4D7E-8F90-A1B2C3D4E5F6}", {
            "DisplayName": Sz("Cobalt Security Rollup 1"), "Installed": Sz("20080915"),
            "Uninstallable": Dword(1)}),
    ])
    cache(g, 7340032, need(PF + "\\Cobalt\\DAC\\cobaltcfg.exe"))
    g = "{6B0A7D21-48C3-4E9F-B15A-3D7C2E8F9A04}"
    product(g, {"DisplayName": Sz("Thistle Remote Assistant"), "DisplayVersion": Sz("4.4.2"),
                "Publisher": Sz("Thistle Software GmbH"), "ModifyPath": Sz("MsiExec.exe /I" + g)},
            "Thistle Remote Assistant", icon("C:\\WINDOWS\\Installer\\" + g + "\\thistle.ico", "#859900"))
    cache(g, 5000000000, need(PF + "\\Thistle\\Remote\\thistle.exe"))
    g = "{F2C4E6A8-0B1D-4F3E-8A5C-7E9D1B3F5A70}"
    product(g, {}, "Lantern Viewer 2008", "")
    # A product whose patches are filed under the packed code but whose entry
    # key has no braces: it gets neither product details nor patches.
    reg.set(USERDATA + "\\" + SYSTEM_SID + "\\Products\\" + pack_guid("{0F9E8D7C-6B5A-4938-A271-605F4E3D2C1B}")
            + "\\Patches\\" + pack_guid("{1234ABCD-0000-4000-8000-00000000ABCD}"),
            {"DisplayName": Sz("Orphaned patch record"), "Installed": Sz("20080701"), "Uninstallable": Dword(1),
             "State": Dword(1)})
    entry("0F9E8D7C-6B5A-4938-A271-605F4E3D2C1B", {
        "DisplayName": Sz("Ibis Label Designer"), "DisplayVersion": Sz("2.1"), "Publisher": Sz("Ibis"),
        "UninstallString": Sz("MsiExec.exe /X{0F9E8D7C-6B5A-4938-A271-605F4E3D2C1B}"),
    })

    # --- Windows XP hotfixes
    def hotfix(key, kb, name, installed, present=True, values=None):
        folder = "C:\\WINDOWS\\$NtUninstall" + key.split("_")[-1] + "$\\spuninst"
        exe = (need if present else missing)(folder + "\\spuninst.exe")
        v = {"DisplayName": Sz(name), "Publisher": Sz("Microsoft Corporation"), "ParentKeyName": Sz("OperatingSystem"),
             "ParentDisplayName": Sz("Windows XP - Software Updates"), "ReleaseType": Sz("Security Update"),
             "UninstallString": Sz('"' + exe + '"'), "InstallDate": Sz(installed),
             "HelpLink": Sz("http://support.microsoft.com?kbid=" + kb), "NoModify": Dword(1), "NoRepair": Dword(1)}
        v.update(values or {})
        entry(key, v)

    hotfix("KB923191", "923191", "Security Update for Windows XP (KB923191)", "20080712")
    hotfix("KB925902", "925902", "Security Update for Windows XP (KB925902)", "20080712")
    hotfix("KB896358", "896358", "Security Update for Windows XP (KB896358)", "20080712", present=False)
    hotfix("Q312345_KB312345", "312345", "Windows XP Hotfix - KB312345", "20080713",
           values={"ReleaseType": Sz("Hotfix"), "QuietUninstallString": Sz(
               '"C:\\WINDOWS\\$NtUninstallKB312345$\\spuninst\\spuninst.exe" /quiet')})
    hotfix("KB942840-v2", "942840", "Update for Windows XP (KB942840)", "20080802",
           values={"ReleaseType": Sz("Update")})
    hotfix("wmp11-kb939683", "939683", "Hotfix for Windows Media Player 11 (KB939683)", "20080802",
           values={"ParentKeyName": Sz("Windows Media Player"), "ReleaseType": Sz("Hotfix"),
                   "UninstallString": Sz(need("C:\\WINDOWS\\$NtUninstallwmp11-kb939683$\\spuninst\\spuninst.exe"))})
    # Windows Installer commands resolve to the system's own program.
    need("C:\\WINDOWS\\system32\\msiexec.exe")

    # --- the 32-bit view
    d = "C:\\Program Files (x86)\\Pelican Backup"
    entry("Pelican Backup", {
        "DisplayName": Sz("Pelican Backup (32-bit)"), "DisplayVersion": Sz("1.12"), "Publisher": Sz("Pelican Tools"),
        "UninstallString": Sz('"' + need(d + "\\uninst.exe") + '"'),
        "DisplayIcon": Sz(icon(d + "\\pelican.ico", "#cb4b16") + ",0"), "EstimatedSize": Dword(2300),
    }, root=WOW_UNINSTALL)
    return reg


# ------------------------------------------------------------------ output

def placeholder_exe(path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(b"MZ" + b"\0" * 58 + struct.pack("<I", 0) + b"Kelvane sample placeholder: not a program.\r\n")


def make_icon(path, colour):
    """A 32x32 32-bit icon: a rounded square in the colour with a white disc."""
    r, g, b = (int(colour[i:i + 2], 16) for i in (1, 3, 5))
    pixels = bytearray()
    for row in range(32):
        y = 31 - row  # bottom-up
        for x in range(32):
            cx, cy = min(max(x, 8), 23), min(max(y, 8), 23)
            inside = 2 <= x <= 29 and 2 <= y <= 29 and (x - cx) ** 2 + (y - cy) ** 2 <= 36
            if (x - 15.5) ** 2 + (y - 15.5) ** 2 <= 42:
                pixels += bytes((255, 255, 255, 255))
            elif inside:
                pixels += bytes((b, g, r, 255))
            else:
                pixels += bytes((0, 0, 0, 0))
    mask = b"\0" * (4 * 32)  # alpha decides; the AND mask stays clear
    image = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0) + pixels + mask
    data = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 32, 32, 0, 0, 1, 32, len(image), 22) + image
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    reg = build()
    shutil.rmtree(os.path.join(OUT, "drive_c"), ignore_errors=True)
    os.makedirs(OUT, exist_ok=True)
    reg.write(os.path.join(OUT, "system.reg"))
    for p in sorted(FILES - set(ICONS)):
        placeholder_exe(host(p))
    for p, colour in sorted(ICONS.items()):
        make_icon(host(p), colour)
    assert not (MISSING & (FILES | set(ICONS))), "a path is both missing and present"
    print("%d keys, %d files, %d icons, %d missing" % (len(reg.keys), len(FILES), len(ICONS), len(MISSING)))


if __name__ == "__main__":
    sys.exit(main())
