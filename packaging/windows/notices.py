#!/usr/bin/env python3
"""Writes the licenses folder that ships beside the Windows programs.

Usage: notices.py SOURCES_LIST OUT_DIR

SOURCES_LIST (scripts/build-windows.sh writes it) has one line per source
package that the build compiled: "NAME PACKAGE DEBIAN_VERSION SOURCE_DIR".
Versions, licence names and texts are all read from those sources, from the
attribution files inside them and from the installed Debian packages that the
programs link or embed, so that they follow the sources when Debian updates
them. OUT_DIR gets LICENSE.txt (the tool's own), THIRD-PARTY-NOTICES.txt and a
folder of texts per component.
"""
import fnmatch
import json
import pathlib
import re
import shutil
import subprocess
import sys

TOP = pathlib.Path(__file__).resolve().parents[2]
EXE = "nv38k-upgrade-tool.exe"
DFU = r"bin\x64\dfu-util-static.exe"

# Built from source here: which programs hold each, its licence texts, and
# its licence where Debian's copyright file is not machine-readable.
BUILT = {
    "qt": ("Qt", EXE, ["LICENSE.LGPL3", "LICENSE.GPL3", "LICENSE.GPL2"], None),
    "openssl": ("OpenSSL", EXE, ["LICENSE.txt"], None),
    "zlib": ("zlib", EXE, ["LICENSE"], None),
    "pcre2": ("PCRE2", EXE, ["LICENCE"], None),
    "libpng": ("libpng", EXE, ["LICENSE"], None),
    "dfu_util": ("dfu-util", DFU, ["COPYING"], None),
    "libusb": ("libusb", DFU, ["COPYING", "AUTHORS"], "LGPL-2.1-or-later"),
}
# Linked or embedded from Debian's installed packages, with the licence of
# what is linked where Debian's copyright file is not machine-readable.
INSTALLED = [
    ("mingw-w64-i686-dev", "MinGW-w64 runtime (C runtime, winpthreads)", f"{EXE} and {DFU}", None),
    ("gcc-mingw-w64-i686-posix-runtime", "GCC runtime (libgcc, libstdc++)", f"{EXE} and {DFU}",
     "GPL-3.0-or-later WITH GCC-exception-3.1"),
    ("nsis-common", "NSIS installer stub (LZMA decoder included)", "the installer and uninstall.exe", None),
]
# qtbase's attributions for other platforms, for features this build
# configures off (OpenGL, Vulkan, D-Bus, JPEG, FreeType, HarfBuzz-NG), for
# Qt's own copies of zlib, PCRE2 and libpng, which it takes from Debian's
# sources instead (listed above), or for Qt Test, which the tool does not
# link. Every other attribution in qtbase is listed.
QT_MODULES = ["src/corelib", "src/gui", "src/widgets", "src/network", "src/plugins/platforms/windows"]
QT_NOT_BUILT = [
    "VulkanMemoryAllocator", "android-*", "angle*", "forkfd", "libjpeg", "pixman",
    "vera_font", "dejayvu", "xcb-*", "qeventdispatcher_cf", "libdbus-1-headers",
    "opengl-*", "vulkan-*", "cocoa-*", "valgrind", "cycle", "linuxperf",
    "freetype*", "harfbuzz-ng", "zlib", "pcre2*", "libpng",
]


def upstream(debian_version):
    """5.15.8+dfsg-11+deb12u3 -> 5.15.8; 2:1.0.26-1 -> 1.0.26."""
    version = re.sub(r"^\d+:", "", debian_version).rsplit("-", 1)[0]
    return re.sub(r"[+~.](dfsg|ds).*$", "", version)


def dep5_licence(copyright_text):
    """The licence of "Files: *" in a machine-readable copyright file."""
    match = re.search(r"^Files: \*\n(?:[^\n]+\n)*?License: ([^\n]+)", copyright_text, re.M)
    return match.group(1).strip() if match else None


def spdx(dep5):
    """A Debian copyright file's licence as an SPDX expression:
    "LGPL-3 or GPL-2" -> "LGPL-3.0-only OR GPL-2.0-only", "GPL-2+" ->
    "GPL-2.0-or-later"; names SPDX spells the same pass through."""
    def name(token):
        if token.lower() in ("or", "and", "with"):
            return token.upper()
        later = token.endswith("+")
        gnu = re.fullmatch(r"(A?GPL|LGPL|GFDL)-(\d+(?:\.\d+)?)\+?", token)
        if gnu:
            number = gnu.group(2) if "." in gnu.group(2) else gnu.group(2) + ".0"
            return f"{gnu.group(1)}-{number}-{'or-later' if later else 'only'}"
        return {"Expat": "MIT", "BSD-2-clause": "BSD-2-Clause", "BSD-3-clause": "BSD-3-Clause"}.get(token, token)
    return " ".join(name(token) for token in dep5.split())


def installed_version(package):
    return subprocess.run(["dpkg-query", "-W", "-f=${Version}", package],
                          check=True, capture_output=True, text=True).stdout


def project_version(build):
    """The tool's version, as CMake wrote it into the BUILD tree."""
    return (build / "nv38k-version.txt").read_text().strip()


def title(path):
    """The first two lines of a licence text, as its name."""
    lines = [line.strip() for line in path.read_text(errors="replace").splitlines() if line.strip()]
    return " ".join(lines[:2])


def copy(source, out, name):
    out.mkdir(parents=True, exist_ok=True)
    target = out / (name if name.endswith((".txt", ".md")) else name + ".txt")
    shutil.copyfile(source, target)
    return target


def main(sources_list, out_dir):
    out = pathlib.Path(out_dir)
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    version = project_version(pathlib.Path(sources_list).parent)
    shutil.copyfile(TOP / "LICENSE", out / "LICENSE.txt")
    archive = f"nv38k-upgrade-tool-{version}-sources.tar.xz"
    text = [
        f"NV38K upgrade tool {version}: third-party notices",
        "",
        "The NV38K upgrade tool is licensed under the Apache License, Version 2.0",
        "(LICENSE.txt). The programs beside this folder contain the third-party",
        "software below, each under its own licence; the texts are in this folder.",
        "",
        f"The corresponding source of these programs is {archive},",
        "published beside the installer: the Debian source packages that the build",
        "compiled, the tool's own source at the commit built, and how the programs",
        "are built from them. With it, the tool can be rebuilt and relinked against",
        "a changed Qt, OpenSSL, zlib, PCRE2, libpng or libusb.",
    ]
    # How each was configured, as scripts/build-windows.sh recorded it beside the list.
    configured = dict(line.split(": ", 1) for line in
                      (pathlib.Path(sources_list).parent / "windows-configure.txt").read_text().splitlines())
    for line in pathlib.Path(sources_list).read_text().splitlines():
        name, package, debian_version, source = line.split(" ", 3)
        source = pathlib.Path(source)
        shown, where, licence_files, _ = BUILT[name]
        folder = out / shown.lower()
        copyright_text = (source / "debian/copyright").read_text(errors="replace")
        texts = [copy(source / f, folder, f) for f in licence_files]
        texts.append(copy(source / "debian/copyright", folder, "debian-copyright"))
        licence = dep5_licence(copyright_text) or title(texts[0])
        text += ["", "-" * 72,
                 f"{shown} {upstream(debian_version)} (Debian source package {package} {debian_version})",
                 f"In: {where}, linked statically",
                 f"Licence: {licence}",
                 f"Configured: {configured[name]}",
                 "Texts: " + ", ".join(str(t.relative_to(out)) for t in texts)]
        text += modifications(package, archive)
        if name == "qt":
            text += qt_parts(source, folder / "3rdparty", out)
    for package, shown, where, linked_licence in INSTALLED:
        debian_version = installed_version(package)
        doc = pathlib.Path("/usr/share/doc") / package / "copyright"
        target = copy(doc, out / package.split("-")[0], "copyright")
        licence = (dep5_licence(doc.read_text(errors="replace")) or
                   f"{linked_licence or ''} (see {target.relative_to(out)})".lstrip())
        text += ["", "-" * 72,
                 f"{shown} {upstream(debian_version)} (Debian package {package} {debian_version})",
                 f"In: {where}", f"Licence: {licence}",
                 f"Texts: {target.relative_to(out)}"]
    (out / "THIRD-PARTY-NOTICES.txt").write_text("\r\n".join(text) + "\r\n")


def patches(package):
    """Our patches of a package's source: each file, with what it changes
    and when, from its header."""
    for patch in sorted((TOP / "packaging/windows/patches").glob(f"{package}-*.patch")):
        header = patch.read_text().split("\n---\n", 1)[0]
        description = re.search(r"^Description: (.*)$", header, re.M).group(1)
        date = re.search(r"^Last-Update: (.*)$", header, re.M).group(1)
        yield patch, description, date


def modifications(package, archive):
    """Our changes to a package's source, as the LGPL asks."""
    return [f"Modified by the NV38K upgrade tool's developers on {date}: {description}"
            f" (packaging/windows/patches/{patch.name} in {archive})"
            for patch, description, date in patches(package)]


def qt_parts(source, folder, out):
    """Qt's files under the GPL alone, and its bundled parts from the
    qt_attribution.json files in its source."""
    gpl = sorted(str(path.relative_to(source)) for module in QT_MODULES
                 for path in (source / module).rglob("*.[ch]*")
                 if "$QT_BEGIN_LICENSE:GPL$" in path.read_text(errors="replace"))
    lines = ["", "These files of the Qt modules that the tool links are under the GNU GPL",
             "version 3 (or later versions approved by the KDE Free Qt Foundation) and",
             "not the LGPL, so the tool as a whole is also conveyed under GPL-3 terms",
             "and its complete corresponding source is published:"]
    lines += [f"  {path}" for path in gpl]
    lines += ["", "Qt contains these parts, each under its own licence:"]
    for path, entry in qt_attributions(source):
        lines += ["", f"  {entry['Name']}" + (f" {entry['Version']}" if entry.get("Version") else ""),
                  f"  Licence: {entry.get('License') or entry.get('LicenseId')}"]
        lines += [f"  {line.strip()}" for line in entry.get("Copyright", "").splitlines() if line.strip()]
        if entry.get("LicenseFile"):
            target = copy(path.parent / entry["LicenseFile"], folder, entry["Id"])
            lines.append(f"  Text: {target.relative_to(out)}")
    return lines


def qt_attributions(source):
    """Qt's bundled parts that this build compiles: each qt_attribution.json
    file, with one of its entries."""
    for path in sorted(source.glob("src/**/qt_attribution.json")):
        entries = json.loads(path.read_text(), strict=False)
        for entry in entries if isinstance(entries, list) else [entries]:
            if not any(fnmatch.fnmatch(entry["Id"], p) for p in QT_NOT_BUILT):
                yield path, entry


if __name__ == "__main__":
    main(*sys.argv[1:])
