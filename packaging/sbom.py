#!/usr/bin/env python3
"""Writes the CycloneDX 1.6 SBOMs of what scripts/package.sh ships, one JSON
file each, into OUT_DIR:

  nv38k-upgrade-tool-VERSION-windows.cdx.json   nv38k-upgrade-tool.exe, the
                                                installer, its uninstaller, the zip
  nv38k-upgrade-tool-VERSION-dfu-util.cdx.json  bin/x64/dfu-util-static.exe
  PACKAGE_VERSION_ARCH.cdx.json                 the Debian package (with DEB)

Usage: sbom.py WINDOWS_BUILD OUT_DIR [DEB]

Everything comes from what the build recorded, so that a component the build
gains appears without a change here: WINDOWS_BUILD/windows-sources.txt for
the source packages compiled and their versions, source-pins.txt for each
.dsc's SHA-256, each source's debian/copyright, debian/patches and our
patches, WINDOWS_BUILD/windows-configure.txt for what links what (a
configure line that names another build's prefix), and the version and
maker that CMake wrote into WINDOWS_BUILD. UPSTREAM below only names each
project as NVD and its makers do. The shipped files are hashed where
OUT_DIR holds them (the programs as shipped from the zip). The Debian
package's SBOM lists its dependencies as its control file declares them.
The same build gives the same bytes: the time is SOURCE_DATE_EPOCH's, and
the serial number is derived from the rest.
"""
import datetime
import hashlib
import json
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import urllib.parse
import uuid
import zipfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent / "windows"))
import notices  # noqa: E402

TOP = notices.TOP
PINS = TOP / "packaging/windows/source-pins.txt"
DISTRO = "debian-12"
DEBIAN = {"name": "Debian", "url": ["https://www.debian.org/"]}
# Each Windows program: the SBOM's suffix, and the configure line (in
# windows-configure.txt) that links the program.
PROGRAMS = {notices.EXE: ("windows", "tool"), notices.DFU: ("dfu-util", "dfu_util")}
# Each upstream project by its Debian (source) package: the name users know
# it by, its CPE vendor and product as NVD names them (None where NVD tracks
# none), and its maker.
UPSTREAM = {
    "openssl": ("OpenSSL", ("openssl", "openssl"), "OpenSSL Project", "https://www.openssl.org/"),
    "qtbase-opensource-src": ("Qt", ("qt", "qt"), "The Qt Company", "https://www.qt.io/"),
    "zlib": ("zlib", ("zlib", "zlib"), "Jean-loup Gailly and Mark Adler", "https://zlib.net/"),
    "pcre2": ("PCRE2", ("pcre", "pcre2"), "PCRE2 project", "https://github.com/PCRE2Project/pcre2"),
    "libpng1.6": ("libpng", ("libpng", "libpng"), "libpng project", "http://www.libpng.org/pub/png/libpng.html"),
    "libusb-1.0": ("libusb", ("libusb", "libusb"), "libusb project", "https://libusb.info/"),
    "dfu-util": ("dfu-util", ("dfu-util_project", "dfu-util"), "dfu-util project", "https://dfu-util.sourceforge.net/"),
    "mingw-w64-i686-dev": ("MinGW-w64", None, "MinGW-w64 project", "https://www.mingw-w64.org/"),
    "gcc-mingw-w64-i686-posix-runtime": ("GCC", ("gnu", "gcc"), "GNU Project", "https://gcc.gnu.org/"),
    "nsis-common": ("NSIS", None, "NSIS project", "https://nsis.sourceforge.io/"),
}
# Debian's copyright files name some licences their own way.
SPDX_NAMES = {"BSD-3-clause-Cambridge": "BSD-3-Clause", "libpng": "Libpng", "Zlib": "Zlib",
              "Qt-1.0 exception": "Qt-GPL-exception-1.0",
              "public-domain": "LicenseRef-public-domain", "Public Domain": "LicenseRef-public-domain"}


def hashes(path):
    data = pathlib.Path(path).read_bytes()
    return [{"alg": "SHA-512", "content": hashlib.sha512(data).hexdigest()},
            {"alg": "SHA-256", "content": hashlib.sha256(data).hexdigest()}]


def purl(package, version, arch, vendor="debian"):
    """A canonical purl: qualifiers sorted, the name's '+' and the version's
    other characters percent-encoded as packageurl-js does."""
    name = urllib.parse.quote(package, safe="!*'()")
    at = "@" + urllib.parse.quote(version, safe="!*'():+") if version else ""
    return f"pkg:deb/{vendor}/{name}{at}?arch={arch}&distro={DISTRO}"


def cpe(package, version):
    product = UPSTREAM.get(package, (None, None))[1]
    if not product:
        return {}
    escaped = re.sub(r"([^A-Za-z0-9._-])", r"\\\1", version)
    return {"cpe": f"cpe:2.3:a:{product[0]}:{product[1]}:{escaped}:*:*:*:*:*:*:*"}


def licences(expression, acknowledgement="declared"):
    """An SPDX id or expression; a name SPDX lacks becomes a LicenseRef-."""
    tokens = re.split(r" (AND|OR|WITH) ", re.sub(r" (or|and|with) ", lambda m: f" {m.group(1).upper()} ",
                                               SPDX_NAMES.get(expression, expression)))
    spdx = [token if token in ("AND", "OR", "WITH") else
            SPDX_NAMES.get(token, token if re.fullmatch(r"[A-Za-z0-9.+-]+", token) else
                           "LicenseRef-" + re.sub(r"[^A-Za-z0-9.-]+", "-", token).strip("-"))
            for token in tokens]
    # SPDX allows only its listed exceptions after WITH: a licence with an
    # exception SPDX lacks is one LicenseRef- as a whole.
    while "WITH" in spdx and spdx[spdx.index("WITH") + 1].startswith("LicenseRef-"):
        at = spdx.index("WITH")
        name = spdx[at - 1].removeprefix("LicenseRef-") + "-with-" + spdx[at + 1].removeprefix("LicenseRef-")
        spdx[at - 1:at + 2] = ["LicenseRef-" + re.sub(r"[^A-Za-z0-9.-]+", "-", name)]
    if len(spdx) == 1 and not spdx[0].startswith("LicenseRef-"):
        return [{"license": {"id": spdx[0], "acknowledgement": acknowledgement}}]
    return [{"expression": " ".join(spdx), "acknowledgement": acknowledgement}]


def concluded(choices):
    """The same licences, as concluded rather than declared."""
    return [{key: ({**value, "acknowledgement": "concluded"} if key == "license" else value)
             for key, value in choice.items()} | ({"acknowledgement": "concluded"} if "expression" in choice else {})
            for choice in choices]


MAKER = []


def maker(build):
    """The maker CMake recorded, "Name <address>", as an organisation."""
    text = (build / "nv38k-maintainer.txt").read_text().strip()
    match = re.fullmatch(r"(.*?)\s*<([^>]+)>", text)
    name, email = (match.group(1), match.group(2)) if match else (text, None)
    contact = {"name": name, **({"email": email} if email else {})}
    MAKER[:] = [{"name": name, "contact": [contact]}]
    return MAKER[0], contact


def upstream_of(package, shown):
    name, _, manufacturer, url = UPSTREAM.get(package, (shown or package, None, None, None))
    return name, ({"manufacturer": {"name": manufacturer, "url": [url]}} if manufacturer else {})


def file_properties(name, kinds):
    """What BSI TR-03183-2 asks of a file: its name, and whether it is
    executable, an archive, structured."""
    executable, archive, structured = kinds
    return [{"name": "bsi:component:filename", "value": name},
            {"name": "bsi:component:executable", "value": executable},
            {"name": "bsi:component:archive", "value": archive},
            {"name": "bsi:component:structured", "value": structured}]


def file_component(ref, path, name, version, kinds, description):
    """A shipped file, hashed, its hash also where it is distributed; the
    release's maker ships it."""
    digests = hashes(path)
    return {"type": "file", "bom-ref": ref, "supplier": MAKER[0], "name": name, "version": version,
            "description": description,
            "hashes": digests,
            "externalReferences": [{"type": "distribution", "url": urllib.parse.quote(name),
                                    "hashes": digests[:1]}],
            "properties": file_properties(name, kinds)}


PROGRAM = ("executable", "no archive", "unstructured")
INSTALLER = ("executable", "archive", "structured")
ARCHIVE = ("non-executable", "archive", "structured")


def bom(build, root, components, dependencies, compositions):
    manufacturer, author = maker(build)
    document = {
        "bomFormat": "CycloneDX",
        "specVersion": "1.6",
        "version": 1,
        "metadata": {
            "timestamp": datetime.datetime.fromtimestamp(
                int(os.environ["SOURCE_DATE_EPOCH"]), datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ"),
            "authors": [author],
            "manufacturer": manufacturer,
            "supplier": manufacturer,
            "component": root,
        },
        "components": components,
        "dependencies": [{"ref": ref, "dependsOn": sorted(set(refs))} for ref, refs in dependencies.items()],
        "compositions": compositions,
    }
    content = json.dumps(document, sort_keys=True).encode()
    document["serialNumber"] = uuid.uuid5(uuid.NAMESPACE_URL, hashlib.sha256(content).hexdigest()).urn
    return json.dumps(document, indent=2, ensure_ascii=False) + "\n"


def debian_patches(source, package, debian_version):
    """Debian's own patches that name a CVE, as backports that resolve it."""
    series = source / "debian/patches/series"
    names = series.read_text().split() if series.is_file() else []
    found = []
    for name in names:
        # Named for the CVE they fix; "Add-tests-for-CVE-..." only tests.
        ids = sorted(set(re.findall(r"CVE-\d{4}-\d{4,}", name, re.I)))
        if not re.match(r"(.*/)?CVE-", name, re.I):
            continue
        found.append({
            "type": "backport",
            "diff": {"url": f"debian/{urllib.parse.quote(dsc_name(package, debian_version))}"
                            f"#debian/patches/{urllib.parse.quote(name)}"},
            "resolves": [{"type": "security", "id": cve.upper(),
                          "source": {"name": "NVD", "url": f"https://nvd.nist.gov/vuln/detail/{cve.upper()}"}}
                         for cve in ids]})
    return found


def source_component(name, package, debian_version, source, dsc, version):
    shown, _, _, unreadable_licence = notices.BUILT.get(name, (None, None, None, None))
    common, made = upstream_of(package, shown)
    # Named as the notices name it.
    common = shown or common
    upstream = notices.upstream(debian_version)
    licence = notices.dep5_licence((source / "debian/copyright").read_text(errors="replace"))
    component = {
        "type": "library",
        "bom-ref": package,
        "supplier": DEBIAN,
        **made,
        "name": package,
        "version": debian_version,
        "description": f"{common} {upstream}, Debian's source package",
        "licenses": licences(notices.spdx(licence) if licence else unreadable_licence or "not stated"),
        **cpe(package, upstream),
        "purl": purl(package, debian_version, "source"),
        "externalReferences": [{
            "type": "source-distribution",
            "url": "debian/" + urllib.parse.quote(dsc_name(package, debian_version)),
            "hashes": [{"alg": "SHA-256", "content": dsc}],
        }],
        "pedigree": {"ancestors": [{"type": "library", "name": common, "version": upstream}]},
    }
    patches = debian_patches(source, package, debian_version) + [
        {"type": "unofficial",
         "diff": {"text": {"contentType": "text/x-diff", "content": patch.read_text()},
                  "url": f"nv38k-upgrade-tool-{version}/{patch.relative_to(TOP)}"}}
        for patch, _, _ in notices.patches(package)]
    if patches:
        component["pedigree"]["patches"] = patches
    if name == "qt":
        component["components"] = [qt_part(package, upstream, entry) for _, entry in notices.qt_attributions(source)]
    return component


def windows(build, out, version):
    pins = {}
    for line in PINS.read_text().splitlines():
        if line and not line.startswith("#"):
            package, pinned, dsc = line.split()
            pins[package] = (pinned, dsc)
    configure = dict(line.split(": ", 1) for line in (build / "windows-configure.txt").read_text().splitlines())
    # Pins that lagged behind Debian's newer versions (security fixes) when
    # the release was made.
    record = build / "windows-lagging-pins.txt"
    lagging = dict(line.split()[0::2] for line in record.read_text().splitlines() if line.strip()) \
        if record.is_file() else {}
    built, refs = {}, {}
    for line in (build / "windows-sources.txt").read_text().splitlines():
        name, package, debian_version, source = line.split(" ", 3)
        pinned, dsc = pins[package]
        if pinned != debian_version:
            sys.exit(f"sbom.py: {build} built {package} {debian_version}, but {PINS} pins {pinned}")
        built[name] = source_component(name, package, debian_version, pathlib.Path(source), dsc, version)
        if package in lagging:
            built[name]["properties"] = [{"name": "nv38k:debian-newer-version", "value": lagging[package]}]
        refs[name] = package
    # A build depends on those whose prefix its configure line names.
    links = {name: [refs[other] for other in built if other != name and f"$CACHE/{other}-" in line]
             for name, line in configure.items()}

    def reached(name):
        found = {name}
        for ref in links.get(name, []):
            found |= reached(next(n for n, r in refs.items() if r == ref))
        return found

    # What neither program's configure line reaches is linked into the tool.
    unreached = set(built) - reached("tool") - reached("dfu_util")
    shipped = shipped_programs(out, version)
    written = []
    for program, (suffix, linker) in PROGRAMS.items():
        path = program.replace("\\", "/")
        file_name = path.rsplit("/", 1)[-1]
        inside = reached(linker) - {"tool"} | (unreached if linker == "tool" else set())
        components = [built[name] for name in built if name in inside]
        dependencies = {refs[name]: links.get(name, []) for name in built if name in inside}
        if linker in built:
            # A program built from one source package is named for it.
            own = built[linker]
            root = {"type": "application", "bom-ref": path, "supplier": own["supplier"],
                    "manufacturer": own["manufacturer"], "name": own["pedigree"]["ancestors"][0]["name"],
                    "version": own["version"],
                    # Declared and concluded alike: one expression only, when it is one.
                    "licenses": ([] if "expression" in own["licenses"][0] else own["licenses"])
                    + concluded(own["licenses"]),
                    **({"cpe": own["cpe"]} if "cpe" in own else {})}
            dependencies[path] = [refs[linker]]
        else:
            root = {"type": "application", "bom-ref": path, "name": "nv38k-upgrade-tool", "version": version,
                    "purl": f"pkg:generic/nv38k-upgrade-tool@{version}",
                    "supplier": maker(build)[0], "manufacturer": maker(build)[0],
                    # As the notices say: the linked whole is conveyed under the GPL.
                    "licenses": own_licence() + licences("GPL-3.0-only", "concluded")[:1]}
            dependencies[path] = links[linker] + [refs[name] for name in sorted(unreached)]
        root.update({
            "description": f"{file_name} as built, shipped with the NV38K upgrade tool {version}; its hashes are"
                           " the unsigned program's, which a signed one has once osslsigncode remove-signature"
                           " has removed its signature",
            "hashes": hashes(build / path),
            "properties": file_properties(file_name, PROGRAM)})
        # The toolchain's runtime in each program; the installer's stub, in
        # neither, ships with the tool.
        for package, shown, place, linked_licence in notices.INSTALLED:
            if program not in ([p for p in PROGRAMS if p in place] or [notices.EXE]):
                continue
            components.append(installed_component(package, shown, linked_licence))
            dependencies[package] = []
            if program in place:
                dependencies[path].append(package)
        # Each file that ships, as shipped (signed, when the release is).
        ref = f"file:{path}"
        components.append(file_component(ref, shipped / path, file_name, root["version"], PROGRAM,
                                         f"{file_name} as shipped in the installer and the zip"))
        dependencies[ref] = list(dependencies[path])
        if linker not in built:
            dfu = f"file:{notices.DFU.replace(chr(92), '/')}"
            components.append(file_component(dfu, shipped / notices.DFU.replace("\\", "/"), "dfu-util-static.exe",
                                             built["dfu_util"]["version"], PROGRAM,
                                             f"as shipped; its SBOM is nv38k-upgrade-tool-{version}-dfu-util.cdx.json"))
            dependencies[dfu] = []
            name = f"nv38k-upgrade-tool-{version}"
            for kind, file_name, kinds, inside_it in (
                    ("uninstaller", "uninstall.exe", INSTALLER, ["nsis-common"]),
                    ("installer", f"{name}-setup.exe", INSTALLER, [ref, dfu, "file:uninstall.exe", "nsis-common"]),
                    ("portable zip", f"{name}-windows.zip", ARCHIVE, [ref, dfu])):
                where = build / file_name if kind == "uninstaller" else out / file_name
                components.append(file_component(f"file:{file_name}", where, file_name, version, kinds,
                                                 f"The tool's {kind}"))
                dependencies[f"file:{file_name}"] = inside_it
        compositions = [{"aggregate": "complete", "assemblies": [path], "dependencies": [path]}]
        if "qt" in inside:
            # Qt's parts are those its attribution files name.
            compositions.append({"aggregate": "unknown", "assemblies": [refs["qt"]]})
        target = out / f"nv38k-upgrade-tool-{version}-{suffix}.cdx.json"
        target.write_text(bom(build, root, components, dependencies, compositions))
        written.append(target)
    return written


def shipped_programs(out, version):
    """The programs as the zip ships them, unpacked into a scratch folder."""
    folder = pathlib.Path(tempfile.mkdtemp())
    with zipfile.ZipFile(out / f"nv38k-upgrade-tool-{version}-windows.zip") as archive:
        archive.extractall(folder)
    return folder / f"nv38k-upgrade-tool-{version}"


def installed_component(package, shown, linked_licence):
    debian_version = notices.installed_version(package)
    arch = subprocess.run(["dpkg-query", "-W", "-f=${Architecture}", package],
                          check=True, capture_output=True, text=True).stdout
    source = subprocess.run(["dpkg-query", "-W", "-f=${source:Package}", package],
                            check=True, capture_output=True, text=True).stdout
    licence = notices.dep5_licence(
        (pathlib.Path("/usr/share/doc") / package / "copyright").read_text(errors="replace"))
    _, made = upstream_of(package, shown)
    upstream = notices.upstream(debian_version)
    return {
        "type": "library", "bom-ref": package, "supplier": DEBIAN, **made,
        "name": package, "version": debian_version,
        "description": f"{shown}, Debian's package (source package {source})",
        "licenses": licences(notices.spdx(licence) if licence else linked_licence or "not stated"),
        **cpe(package, upstream),
        "purl": purl(package, debian_version, arch),
        "pedigree": {"ancestors": [{"type": "library", "name": shown, "version": upstream}]},
    }


def own_licence():
    return licences(notices.spdx(notices.dep5_licence((TOP / "packaging/deb/copyright").read_text())))


def dsc_name(package, debian_version):
    return f"{package}_{re.sub(r'^[0-9]+:', '', debian_version)}.dsc"


def qt_part(package, upstream, entry):
    """A part that Qt bundles; one without a version of its own is Qt's."""
    part = {"type": "library", "bom-ref": f"{package}:{entry['Id']}", "supplier": DEBIAN, "name": entry["Name"],
            "version": entry.get("Version") or upstream,
            "description": "Bundled in Qt's source" + ("" if entry.get("Version") else
                                                       "; no version of its own, so Qt's"),
            "licenses": licences(entry.get("LicenseId") or entry.get("License") or "not stated"),
            "purl": "pkg:generic/" + urllib.parse.quote(entry["Id"].lower(), safe="!*'()") + "@"
                    + urllib.parse.quote(entry.get("Version") or upstream, safe="!*'():+")}
    return part


def relation_range(constraint):
    """Debian's "(>= 1.2)" as a vers range, a property: CycloneDX 1.6 has
    no field for the range of a component that is not shipped."""
    match = re.fullmatch(r"\(\s*(>=|<=|>>|<<|=)\s*(\S+)\s*\)", constraint.strip())
    if not match:
        return {}
    operator = {">>": ">", "<<": "<"}.get(match.group(1), match.group(1))
    return {"name": "nv38k:debian:version-range",
            "value": f"vers:deb/{operator}{urllib.parse.quote(match.group(2), safe=':+~')}"}


def debian(deb, build, out):
    def field(name):
        return subprocess.run(["dpkg-deb", "-f", str(deb), name],
                              check=True, capture_output=True, text=True).stdout.strip()
    package, version, arch = field("Package"), field("Version"), field("Architecture")
    made = maker(build)[0]
    root = {"type": "application", "bom-ref": package, "supplier": made, "manufacturer": made,
            # Linked against Debian's shared libraries: its own licence holds.
            "name": package, "version": version, "licenses": own_licence() + concluded(own_licence()),
            "purl": purl(package, version, arch, "nv38k"),
            "description": "The Debian package's program; the package itself is its first component"}
    files = f"file:{deb.name}"
    components = [file_component(files, deb, deb.name, version, ARCHIVE, "The Debian package")]
    dependencies = {package: [files], files: []}
    with tempfile.TemporaryDirectory() as unpacked:
        subprocess.run(["dpkg-deb", "-x", str(deb), unpacked], check=True)
        for program in sorted(pathlib.Path(unpacked, "usr/bin").iterdir()):
            ref = f"file:/usr/bin/{program.name}"
            components.append(file_component(ref, program, program.name, version, PROGRAM,
                                             f"/usr/bin/{program.name} in the Debian package"))
            dependencies[files].append(ref)
            dependencies[ref] = []
    # As the control file declares them: Debian installs them, at the
    # versions it picks within each range; a relation with alternatives
    # needs one of them, so each is optional and names the others.
    for relation, scope in (("Pre-Depends", "required"), ("Depends", "required"), ("Recommends", "optional")):
        for declared in filter(None, (part.strip() for part in field(relation).split(","))):
            alternatives = [part.strip() for part in declared.split("|")]
            for alternative in alternatives:
                name = alternative.split()[0].split(":")[0]
                ref = f"{relation.lower()}:{alternative}"
                components.append({
                    "type": "library", "bom-ref": ref, "supplier": DEBIAN, "name": name,
                    "scope": scope if len(alternatives) == 1 else "optional",
                    "purl": purl(name, None, arch),
                    "description": "Not shipped: Debian installs it as the package declares"
                                   + (" (one of the alternatives)" if len(alternatives) > 1 else ""),
                    "properties": [{"name": "nv38k:shipped", "value": "false"},
                                   {"name": f"nv38k:debian:{relation.lower()}", "value": declared}]
                    + [range_ for range_ in [relation_range(alternative[len(alternative.split()[0]):])] if range_]})
                dependencies[ref] = []
                dependencies[package].append(ref)
    compositions = [{"aggregate": "complete", "assemblies": [package, files]},
                    {"aggregate": "incomplete_first_party_only", "dependencies": [package]}]
    target = out / f"{deb.name.removesuffix('.deb')}.cdx.json"
    target.write_text(bom(build, root, components, dependencies, compositions))
    return target


def main(build, out_dir, deb=None):
    out = pathlib.Path(out_dir)
    out.mkdir(parents=True, exist_ok=True)
    build = pathlib.Path(build)
    version = notices.project_version(build)
    maker(build)
    written = windows(build, out, version)
    if deb:
        written.append(debian(pathlib.Path(deb), build, out))
    for path in written:
        print(path)


if __name__ == "__main__":
    main(*sys.argv[1:])
