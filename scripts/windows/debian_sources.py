"""Debian source packages for the Windows build: the pins, the mirror's
versions and the downloads; and a new Debian root from this machine's apt
sources. scripts/windows/build.py imports it; scripts/update-source-pins.sh,
packaging/windows/make-sources.sh and scripts/fresh-ci.sh run it."""
import contextlib
import fcntl
import functools
import hashlib
import os
import pathlib
import re
import subprocess
import sys

TOP = pathlib.Path(__file__).resolve().parents[2]
PINS = TOP / "packaging/windows/source-pins.txt"
SUDO = [] if os.geteuid() == 0 else ["sudo"]
# Shared with scripts/install-deps.sh: apt takes one change at a time. In
# /run, where only root makes files, so that no other user can plant or hold it.
APT_LOCK = pathlib.Path("/run/nv38k-apt.lock")


@contextlib.contextmanager
def apt_lock():
    if not APT_LOCK.is_file():
        subprocess.run([*SUDO, "touch", str(APT_LOCK)], check=True)
    with open(APT_LOCK) as held:
        fcntl.flock(held, fcntl.LOCK_EX)
        yield


def apt_get_update():
    with apt_lock():
        subprocess.run([*SUDO, "apt-get", "update", "-qq"], check=True)


def pins():
    """{package: (version, .dsc SHA-256)} from the pins file."""
    pinned = {}
    for line in PINS.read_text().splitlines():
        if line.strip() and not line.startswith("#"):
            package, version, sha256 = line.split()
            pinned[package] = (version, sha256)
    return pinned


def dsc_name(package, version):
    """The .dsc's file name: no epoch in it."""
    return f"{package}_{version.split(':', 1)[-1]}.dsc"


def sha256(*paths):
    digest = hashlib.sha256()
    for path in paths:
        digest.update(pathlib.Path(path).read_bytes())
    return digest.hexdigest()


def ensure_deb_src():
    """Adds deb-src entries made from this machine's own deb entries, unless
    apt has some already."""
    lists = [pathlib.Path("/etc/apt/sources.list"), *pathlib.Path("/etc/apt/sources.list.d").glob("*.list")]
    deb822 = list(pathlib.Path("/etc/apt/sources.list.d").glob("*.sources"))
    texts = [path.read_text() for path in lists + deb822 if path.is_file()]
    if any(re.search(r"^\s*(deb-src\s|Types:.*\sdeb-src(\s|$))", text, re.M) for text in texts):
        return
    print("Adding deb-src entries for apt-get source", file=sys.stderr)
    stanzas = []
    for path in deb822:
        for stanza in re.split(r"\n\s*\n", path.read_text()):
            fields = [line for line in stanza.splitlines() if line and not line.startswith("#")]
            types = next((line for line in fields if line.startswith("Types:")), "")
            enabled = not any(re.match(r"(?i)enabled:\s*no", line) for line in fields)
            if re.search(r"\sdeb(\s|$)", types) and enabled:
                stanzas.append("\n".join("Types: deb-src" if line.startswith("Types:") else line
                                         for line in fields))
    one_line = [re.sub(r"^\s*deb\s", "deb-src ", line) for path in lists if path.is_file()
                for line in path.read_text().splitlines() if re.match(r"^\s*deb\s", line)]
    if not stanzas and not one_line:
        sys.exit("No deb entry in the apt sources to derive deb-src from")
    with apt_lock():
        for name, entries in (("nv38k-deb-src.sources", "\n\n".join(stanzas)),
                              ("nv38k-deb-src.list", "\n".join(one_line))):
            if entries:
                subprocess.run([*SUDO, "tee", f"/etc/apt/sources.list.d/{name}"], input=entries + "\n",
                               text=True, stdout=subprocess.DEVNULL, check=True)
    apt_get_update()


def debian_entries():
    """This machine's enabled deb entries for Debian 12 itself (its suites all
    bookworm or bookworm-*), each as {field: value} in deb822's terms; other
    vendors' repositories are left out."""
    lists = [pathlib.Path("/etc/apt/sources.list"), *pathlib.Path("/etc/apt/sources.list.d").glob("*.list")]
    deb822 = pathlib.Path("/etc/apt/sources.list.d").glob("*.sources")
    entries = []
    for path in deb822:
        for stanza in re.split(r"\n\s*\n", path.read_text()):
            fields = dict(re.match(r"([\w-]+):\s*(.*)", line).groups() for line in stanza.splitlines()
                          if re.match(r"[\w-]+:", line))
            if "deb" in fields.get("Types", "").split() and fields.get("Enabled", "yes").lower() != "no":
                entries.append({**fields, "Types": "deb"})
    for path in lists:
        if path.is_file():
            for line in path.read_text().splitlines():
                match = re.match(r"^\s*deb\s+(\[[^]]*\]\s+)?(\S+)\s+(\S+)\s+(.*)", line)
                if match:
                    entries.append({"Types": "deb", "URIs": match[2], "Suites": match[3],
                                    "Components": match[4].strip()})
    return [entry for entry in entries
            if all(re.fullmatch(r"bookworm(-\w+)?", suite) for suite in entry.get("Suites", "-").split())]


def new_root(root, tarballs):
    """Makes ROOT a minimal Debian 12 from this machine's own Debian mirror,
    with git and the CA certificates, and gives it the same Debian apt
    entries. debootstrap's downloads are kept as a tarball in TARBALLS."""
    root, tarballs = pathlib.Path(root), pathlib.Path(tarballs)
    entries = debian_entries()
    mirror = next((entry["URIs"].split()[0] for entry in entries if "bookworm" in entry["Suites"].split()), None)
    if not mirror:
        sys.exit("No deb entry for bookworm in the apt sources to make a Debian root from")
    include = "git,ca-certificates"
    tarballs.mkdir(parents=True, exist_ok=True)
    tarball = tarballs / f"bookworm-minbase-{hashlib.sha256(f'{mirror} {include}'.encode()).hexdigest()[:12]}.tgz"
    debootstrap = ["debootstrap", "--variant=minbase", f"--include={include}"]
    if not tarball.is_file():
        part = tarballs / "part"
        subprocess.run(["rm", "-rf", "--one-file-system", str(part), f"{tarball}.part"], check=True)
        subprocess.run([*debootstrap, f"--make-tarball={tarball}.part", "bookworm", part, mirror], check=True)
        subprocess.run(["rm", "-rf", "--one-file-system", str(part)], check=True)
        pathlib.Path(f"{tarball}.part").rename(tarball)
    subprocess.run([*debootstrap, f"--unpack-tarball={tarball}", "bookworm", root, mirror], check=True)
    (root / "etc/apt/sources.list").write_text("")
    (root / "etc/apt/sources.list.d/debian.sources").write_text(
        "\n".join("".join(f"{name}: {value}\n" for name, value in entry.items()) for entry in entries))


def ensure_backports():
    """Adds bookworm-backports, made from this machine's own bookworm entry,
    unless apt has it already."""
    entries = debian_entries()
    if any("bookworm-backports" in entry["Suites"].split() for entry in entries):
        return
    base = next((entry for entry in entries if "bookworm" in entry["Suites"].split()), None)
    if not base:
        sys.exit("No deb entry for bookworm in the apt sources to derive bookworm-backports from")
    print("Adding bookworm-backports to the apt sources", file=sys.stderr)
    stanza = "".join(f"{name}: {value}\n" for name, value in {**base, "Suites": "bookworm-backports"}.items())
    with apt_lock():
        subprocess.run([*SUDO, "tee", "/etc/apt/sources.list.d/nv38k-backports.sources"], input=stanza,
                       text=True, stdout=subprocess.DEVNULL, check=True)
    apt_get_update()


def _showsrc(package):
    return subprocess.run(["apt-cache", "showsrc", "--only-source", package], capture_output=True,
                          text=True).stdout


def versions(package):
    """The versions of PACKAGE that the mirror lists, newest first."""
    listing = _showsrc(package)
    if "Version:" not in listing:
        apt_get_update()
        listing = _showsrc(package)
    def compare(a, b):
        return 0 if a == b else -1 if newer(a, b) else 1
    found = set(re.findall(r"^Version: (\S+)", listing, re.M))
    return sorted(found, key=functools.cmp_to_key(compare))


def download(package, version, folder):
    """Downloads a source package version (.dsc and tarballs) into FOLDER,
    unless it is there; False when the mirror does not serve it."""
    folder = pathlib.Path(folder)
    if (folder / ".complete").exists():
        return True
    subprocess.run(["rm", "-rf", str(folder)], check=True)
    folder.mkdir(parents=True)
    fetched = subprocess.run(["apt-get", "source", "-qq", "--download-only", f"{package}={version}"],
                             cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if fetched.returncode != 0:
        subprocess.run(["rm", "-rf", str(folder)], check=True)
        return False
    (folder / ".complete").touch()
    return True


def update_pins(wanted, work):
    """Moves the pins of the packages WANTED (all when empty) to the newest
    version that the mirror serves, and says what moved."""
    ensure_deb_src()
    apt_get_update()
    lines = []
    for line in PINS.read_text().splitlines():
        fields = line.split()
        if not fields or line.startswith("#") or (wanted and fields[0] not in wanted):
            lines.append(line)
            continue
        package, pinned = fields[0], fields[1]
        # A mirror can list a version that it does not serve yet.
        for candidate in versions(package):
            if download(package, candidate, pathlib.Path(work) / package):
                break
            print(f"The mirror lists {package} {candidate} but does not serve it", file=sys.stderr)
        else:
            sys.exit(f"The mirror serves no version of {package}")
        if candidate != pinned:
            print(f"{package}: {pinned} -> {candidate}", file=sys.stderr)
        lines.append(f"{package} {candidate} {sha256(pathlib.Path(work) / package / dsc_name(package, candidate))}")
    PINS.write_text("\n".join(lines) + "\n")


def newer(a, b):
    return subprocess.run(["dpkg", "--compare-versions", a, "gt", b]).returncode == 0


def newer_than_pin(package, pinned):
    """The newest version of PACKAGE that the mirror lists when it is newer
    than PINNED, else None."""
    newest = next(iter(versions(package)), pinned)
    return newest if newer(newest, pinned) else None


def lagging():
    """The pins behind the mirror, as lines "PACKAGE PINNED NEWEST": Debian's
    stable updates of these packages are security fixes."""
    ensure_deb_src()
    for package, (pinned, _) in pins().items():
        newest = newer_than_pin(package, pinned)
        if newest:
            print(package, pinned, newest)


if __name__ == "__main__":
    # update-pins WORK [PACKAGE...] | download PACKAGE VERSION FOLDER | new-root ROOT TARBALLS
    # | ensure-backports | lagging
    if sys.argv[1] == "update-pins":
        update_pins(set(sys.argv[3:]), sys.argv[2])
    elif sys.argv[1] == "new-root":
        new_root(*sys.argv[2:4])
    elif sys.argv[1] == "ensure-backports":
        ensure_backports()
    elif sys.argv[1] == "lagging":
        lagging()
    elif not download(*sys.argv[2:5]):
        sys.exit(f"The mirror does not serve {sys.argv[2]} {sys.argv[3]}")
