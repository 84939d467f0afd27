#!/usr/bin/env python3
"""Writes the CycloneDX 1.6 SBOMs of the programs that scripts/package.sh
ships, one JSON file each, into OUT_DIR:

  nv38k-upgrade-tool-VERSION-windows.cdx.json   nv38k-upgrade-tool.exe
  nv38k-upgrade-tool-VERSION-dfu-util.cdx.json  bin/x64/dfu-util-static.exe
  PACKAGE_VERSION_ARCH.cdx.json                 the Debian package (with DEB)

Usage: sbom.py WINDOWS_BUILD OUT_DIR [DEB]

The Windows programs' come from the facts their build and notices use
(notices.py): WINDOWS_BUILD/windows-sources.txt for the source packages
compiled and their versions, source-pins.txt for each .dsc's SHA-256, our
patches, and WINDOWS_BUILD/windows-configure.txt for what links what (a
configure line that names another build's prefix). The Debian package's
lists its dependencies as its control file declares them. The same build
gives the same bytes: the time is SOURCE_DATE_EPOCH's, and the serial
number is derived from the rest.
"""
import datetime
import hashlib
import json
import os
import pathlib
import re
import subprocess
import sys
import urllib.parse
import uuid

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent / "windows"))
import notices  # noqa: E402

TOP = notices.TOP
PINS = TOP / "packaging/windows/source-pins.txt"
# Each Windows program: the SBOM's name, and the configure line (in
# windows-configure.txt) that links the program.
PROGRAMS = {notices.EXE: ("windows", "tool"), notices.DFU: ("dfu-util", "dfu_util")}


def sha256(path):
    return hashlib.sha256(pathlib.Path(path).read_bytes()).hexdigest()


def purl(package, version, arch):
    quoted = urllib.parse.quote(version, safe="")
    return f"pkg:deb/debian/{package}@{quoted}?arch={arch}" if version else f"pkg:deb/debian/{package}?arch={arch}"


def licences(expression):
    """One SPDX id, an SPDX expression, or (Qt's "ICC License") a name."""
    if re.fullmatch(r"[A-Za-z0-9.+-]+", expression):
        return [{"license": {"id": expression}}]
    if re.fullmatch(r"[A-Za-z0-9.+-]+( (AND|OR|WITH) [A-Za-z0-9.+-]+)+", expression):
        return [{"expression": expression}]
    return [{"license": {"name": expression}}]


def bom(root, components, dependencies):
    document = {
        "bomFormat": "CycloneDX",
        "specVersion": "1.6",
        "version": 1,
        "metadata": {
            "timestamp": datetime.datetime.fromtimestamp(
                int(os.environ["SOURCE_DATE_EPOCH"]), datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ"),
            "component": root,
        },
        "components": components,
        "dependencies": [{"ref": ref, "dependsOn": sorted(set(refs))} for ref, refs in dependencies.items()],
    }
    content = json.dumps(document, sort_keys=True).encode()
    document["serialNumber"] = uuid.uuid5(uuid.NAMESPACE_URL, hashlib.sha256(content).hexdigest()).urn
    return json.dumps(document, indent=2, ensure_ascii=False) + "\n"


def windows(build, out, version):
    pins = {}
    for line in PINS.read_text().splitlines():
        if line and not line.startswith("#"):
            package, pinned, dsc = line.split()
            pins[package] = (pinned, dsc)
    configure = dict(line.split(": ", 1) for line in (build / "windows-configure.txt").read_text().splitlines())
    built, refs, where = {}, {}, {}
    for line in (build / "windows-sources.txt").read_text().splitlines():
        name, package, debian_version, source = line.split(" ", 3)
        source = pathlib.Path(source)
        shown, program, _, unreadable_licence = notices.BUILT[name]
        pinned, dsc = pins[package]
        if pinned != debian_version:
            sys.exit(f"sbom.py: {build} built {package} {debian_version}, but {PINS} pins {pinned}")
        licence = notices.dep5_licence((source / "debian/copyright").read_text(errors="replace"))
        component = {
            "type": "application" if name == PROGRAMS[program][1] else "library",
            "bom-ref": package,
            "name": package,
            "version": debian_version,
            "description": f"{shown}, Debian's source package",
            "licenses": licences(notices.spdx(licence) if licence else unreadable_licence),
            "purl": purl(package, debian_version, "source"),
            "externalReferences": [{
                "type": "source-distribution",
                "url": "debian/" + urllib.parse.quote(dsc_name(package, debian_version)),
                "hashes": [{"alg": "SHA-256", "content": dsc}],
            }],
            "pedigree": {
                "ancestors": [{"type": "library", "name": shown, "version": notices.upstream(debian_version)}],
            },
        }
        ours = [{"type": "unofficial",
                 "diff": {"text": {"contentType": "text/x-diff", "content": patch.read_text()},
                          "url": f"nv38k-upgrade-tool-{version}/{patch.relative_to(TOP)}"}}
                for patch, _, _ in notices.patches(package)]
        if ours:
            component["pedigree"]["patches"] = ours
        if name == "qt":
            component["components"] = [qt_part(entry) for _, entry in notices.qt_attributions(source)]
        built[name] = component
        refs[name] = package
        where.setdefault(program, []).append(name)
    # A build depends on those whose prefix its configure line names.
    links = {name: [refs[other] for other in built if other != name and f"$CACHE/{other}-" in line]
             for name, line in configure.items()}
    written = []
    for program, (suffix, linker) in PROGRAMS.items():
        root_ref = program.replace("\\", "/")
        root = {"type": "application", "bom-ref": root_ref, "name": root_ref, "version": version,
                "description": f"Shipped with the NV38K upgrade tool {version}; the SHA-256 is the unsigned"
                               " program's, which a signed one has once osslsigncode remove-signature"
                               " has removed its signature",
                "hashes": [{"alg": "SHA-256", "content": sha256(build / root_ref)}]}
        if linker in built:
            root["licenses"] = built[linker]["licenses"]
            dependencies = {root_ref: [refs[linker]]}
        else:
            root["licenses"] = own_licence()
            dependencies = {root_ref: links[linker]}
        components = [built[name] for name in where[program]]
        for name in where[program]:
            dependencies[refs[name]] = links.get(name, [])
        # The toolchain's runtime in each program; the installer's stub, in
        # neither, ships with the tool.
        for package, shown, place, linked_licence in notices.INSTALLED:
            if program not in ([p for p in PROGRAMS if p in place] or [notices.EXE]):
                continue
            debian_version = notices.installed_version(package)
            arch = subprocess.run(["dpkg-query", "-W", "-f=${Architecture}", package],
                                  check=True, capture_output=True, text=True).stdout
            licence = notices.dep5_licence(
                (pathlib.Path("/usr/share/doc") / package / "copyright").read_text(errors="replace"))
            components.append({
                "type": "library", "bom-ref": package, "name": package, "version": debian_version,
                "description": f"{shown}, Debian's package",
                "licenses": licences(notices.spdx(licence) if licence else linked_licence),
                "purl": purl(package, debian_version, arch),
                "pedigree": {"ancestors": [{"type": "library", "name": shown,
                                            "version": notices.upstream(debian_version)}]},
            })
            dependencies[package] = []
            if program in place:
                dependencies[root_ref].append(package)
        target = out / f"nv38k-upgrade-tool-{version}-{suffix}.cdx.json"
        target.write_text(bom(root, components, dependencies))
        written.append(target)
    return written


def own_licence():
    return licences(notices.spdx(notices.dep5_licence((TOP / "packaging/deb/copyright").read_text())))


def dsc_name(package, debian_version):
    return f"{package}_{re.sub(r'^[0-9]+:', '', debian_version)}.dsc"


def qt_part(entry):
    part = {"type": "library", "name": entry["Name"]}
    if entry.get("Version"):
        part["version"] = entry["Version"]
    licence = entry.get("LicenseId") or entry.get("License")
    part["licenses"] = licences(re.sub(r" (or|and|with) ", lambda m: f" {m.group(1).upper()} ", licence))
    return part


def debian(deb, out):
    def field(name):
        return subprocess.run(["dpkg-deb", "-f", str(deb), name],
                              check=True, capture_output=True, text=True).stdout.strip()
    package, version, arch = field("Package"), field("Version"), field("Architecture")
    root = {"type": "application", "bom-ref": package, "name": package, "version": version,
            "licenses": own_licence(),
            "purl": f"pkg:deb/nv38k/{package}@{urllib.parse.quote(version, safe='')}?arch={arch}",
            "hashes": [{"alg": "SHA-256", "content": sha256(deb)}]}
    components, dependencies = [], {package: []}
    # As the control file declares them: Debian picks the versions when it installs.
    for relation, scope in (("Pre-Depends", "required"), ("Depends", "required"), ("Recommends", "optional")):
        for declared in filter(None, (part.strip() for part in field(relation).split(","))):
            for alternative in declared.split("|"):
                name = alternative.split()[0].split(":")[0]
                if name in dependencies:
                    continue
                components.append({"type": "library", "bom-ref": name, "name": name, "scope": scope,
                                   "purl": f"pkg:deb/debian/{name}",
                                   "properties": [{"name": f"nv38k:debian:{relation.lower()}", "value": declared}]})
                dependencies[name] = []
                dependencies[package].append(name)
    target = out / f"{deb.name.removesuffix('.deb')}.cdx.json"
    target.write_text(bom(root, components, dependencies))
    return target


def main(build, out_dir, deb=None):
    out = pathlib.Path(out_dir)
    out.mkdir(parents=True, exist_ok=True)
    version = re.search(r"project\(nv38k-upgrade-tool VERSION ([0-9.]+)",
                        (TOP / "CMakeLists.txt").read_text()).group(1)
    written = windows(pathlib.Path(build), out, version)
    if deb:
        written.append(debian(pathlib.Path(deb), out))
    for path in written:
        print(path)


if __name__ == "__main__":
    main(*sys.argv[1:])
