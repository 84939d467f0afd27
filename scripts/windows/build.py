"""Builds the components of the Windows programs into the cache, each once:
its pinned Debian source package fetched and checked, Debian's patches and
then ours applied, built by its recipe (recipes.py) and recorded in BUILD
for the sources archive and the notices. Writes, for scripts/build-windows.sh,
BUILD/windows-prefixes.txt: the lines qt_prefix=, openssl_prefix=,
library_prefixes= (zlib's, PCRE2's and libpng's, separated by ";") and
dfu_util= with their paths. Says everything else on standard error.
Usage: build.py BUILD  (NV38K_WINDOWS_CACHE: the cache, as
scripts/source-packages.sh resolves it; NV38K_SOURCE_PACKAGES: a folder of
source packages to take instead of the mirror)"""
import fcntl
import hashlib
import os
import pathlib
import shlex
import shutil
import subprocess
import sys
import time

import debian_sources as debian
from recipes import CROSS, RECIPES, TOP

STARTED = time.monotonic()


class Context:
    """What recipes are given: the cache, the prefixes built so far, and
    how to run their steps."""

    def __init__(self, cache):
        self.cache = cache
        self.prefixes = {}
        # One job more than cores: Qt's build waits on moc and ar often enough.
        self.jobs = os.cpu_count() + 1

    @staticmethod
    def step(message):
        print(f"[{time.monotonic() - STARTED:4.0f}s] {message}", file=sys.stderr)

    @staticmethod
    def sha256(path):
        return debian.sha256(path)

    @staticmethod
    def run(command, stdin=None, input=None):
        with open(stdin, "rb") if stdin else open(os.devnull, "rb") as given:
            subprocess.run([str(part) for part in command], stdin=None if input else given,
                           input=input, text=input is not None, check=True)

    @staticmethod
    def succeeds(command, stdin):
        with open(stdin, "rb") as given:
            return subprocess.run([str(part) for part in command], stdin=given, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL).returncode == 0

    def configure(self, source, line):
        """Runs the configure LINE (its command relative to SOURCE)."""
        self.logged("configure.log", [source / line[0], *line[1:]])

    @staticmethod
    def logged(log, command):
        """Runs a long step quietly into LOG; shows the log's end if it fails."""
        with open(log, "w") as out:
            if subprocess.run([str(part) for part in command], stdout=out, stderr=out).returncode == 0:
                return
        lines = pathlib.Path(log).read_text(errors="replace").splitlines()
        errors = [line for line in lines if any(word in line.lower() for word in
                                                ("error", "fatal", "failed", "not found"))]
        sys.exit("\n".join([f"Failed: {shlex.join(map(str, command))} (log: {pathlib.Path(log).resolve()})",
                            *[line[:300] for line in errors[:20] + lines[-5:]]]))


def fetch(package, version, dsc_sha256, cache, local):
    """The unpacked source of PACKAGE at its pinned version, patched."""
    if local:
        files = local
    else:
        files = cache / "debian-sources" / f"{package}-{version.replace(':', '_')}"
        if not debian.download(package, version, files):
            sys.exit(f"The mirror does not serve {package} {version}, the version pinned in "
                     f"{debian.PINS}; scripts/update-source-pins.sh {package} moves the pin to one it serves.")
        newest = debian.newer_than_pin(package, version)
        if newest:
            print(f"The mirror lists {package} {newest}; building the pinned {version} "
                  f"(scripts/update-source-pins.sh {package} moves the pin).", file=sys.stderr)
    dsc = files / debian.dsc_name(package, version)
    if not dsc.is_file():
        sys.exit(f"{dsc} is missing")
    if debian.sha256(dsc) != dsc_sha256:
        sys.exit(f"{dsc} does not have the SHA-256 pinned in {debian.PINS}")
    # dpkg-source checks the tarballs against the .dsc; our patches key the folder.
    patches = sorted((TOP / "packaging/windows/patches").glob(f"{package}-*.patch"))
    source = cache / "src" / f"{package}-{version.replace(':', '_')}-{debian.sha256(dsc, *patches)[:12]}"
    if not source.is_dir():
        part = source.with_name(source.name + ".part")
        shutil.rmtree(part, ignore_errors=True)
        Context.logged(cache / "src" / f"{package}.log", ["dpkg-source", "--no-copy", "-x", dsc, part])
        for patch in patches:
            Context.run(["patch", "-d", part, "-p1", "-s"], stdin=patch)
        part.rename(source)
    return source


def posix_compilers(cache):
    """Puts the POSIX thread model's compilers first in PATH under the names
    the recipes call (Qt's test library needs std::mutex, which only that
    model has), without switching the machine's alternatives."""
    links = cache / "posix-compilers"
    links.mkdir(parents=True, exist_ok=True)
    for tool in ("gcc", "g++"):
        link, target = links / f"{CROSS}{tool}", pathlib.Path(f"/usr/bin/{CROSS}{tool}-posix")
        if not target.exists():
            sys.exit(f"{target} is missing: install g++-mingw-w64-i686-posix and gcc-mingw-w64-i686-posix")
        if not link.is_symlink() or os.readlink(link) != str(target):
            link.unlink(missing_ok=True)
            link.symlink_to(target)
    os.environ["PATH"] = f"{links}{os.pathsep}{os.environ['PATH']}"


def main(build):
    # What this step and the builds it runs say is for people: standard output
    # joins standard error, and the results go to a file.
    os.dup2(sys.stderr.fileno(), sys.stdout.fileno())
    results = build / "windows-prefixes.txt"
    results.unlink(missing_ok=True)
    cache = pathlib.Path(os.environ["NV38K_WINDOWS_CACHE"])
    local = os.environ.get("NV38K_SOURCE_PACKAGES")
    local = pathlib.Path(local).resolve() if local else None
    if not local:
        debian.ensure_deb_src()
    (cache / "build").mkdir(parents=True, exist_ok=True)
    (cache / "src").mkdir(exist_ok=True)
    posix_compilers(cache)
    compiler = (subprocess.run([f"{CROSS}g++", "--version"], capture_output=True, text=True).stdout.splitlines()[0]
                + next(line for line in subprocess.run([f"{CROSS}g++", "-v"], capture_output=True, text=True)
                       .stderr.splitlines() if line.startswith("Thread model: ")))
    ctx, pins, built, configured = Context(cache), debian.pins(), [], []
    with open(cache / ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)  # one build at a time uses the cache
        for make in RECIPES:
            recipe = make(ctx)
            version, dsc_sha256 = pins[recipe.package]
            source = fetch(recipe.package, version, dsc_sha256, cache, local)
            # Keyed by the compiler and the options, without the cache's own
            # path, so that a cache moved elsewhere is still used.
            key = "".join(f"{part}\n".replace(str(cache), "CACHE")
                          for part in [compiler, str(source), *recipe.options, *recipe.also_keyed])
            prefix = cache / f"{recipe.name}-{version.replace(':', '_')}-{hashlib.sha256(key.encode()).hexdigest()[:12]}"
            if not (prefix / ".complete").exists():
                ctx.step(f"Building {recipe.package} {version} into {prefix}")
                work = cache / "build" / recipe.name
                shutil.rmtree(prefix, ignore_errors=True)
                shutil.rmtree(work, ignore_errors=True)
                work.mkdir()
                # Time stamps that the build writes are the source package's.
                os.environ["SOURCE_DATE_EPOCH"] = subprocess.run(
                    ["dpkg-parsechangelog", "-l", source / "debian/changelog", "-STimestamp"],
                    capture_output=True, text=True, check=True).stdout.strip()
                os.chdir(work)
                recipe.build(source, prefix)
                os.chdir(TOP)
                shutil.rmtree(work)
                (prefix / ".complete").touch()
            ctx.prefixes[recipe.name] = prefix
            built.append(f"{recipe.name} {recipe.package} {version} {source}")
            configured.append(f"{recipe.name}: {shlex.join(recipe.configure(prefix))}"
                              .replace(str(cache), "$CACHE"))
    # What the programs were built from and how, for the sources archive
    # (packaging/windows/make-sources.sh) and the notices.
    (build / "windows-sources.txt").write_text("\n".join(built) + "\n")
    (build / "windows-configure.txt").write_text("\n".join(configured) + "\n")
    # Qt names the libraries it was built against by their paths in this
    # cache; the tool's build finds them in their prefixes wherever the cache
    # has moved (the reproduction builds from a copy).
    paths = {"qt_prefix": ctx.prefixes["qt"], "openssl_prefix": ctx.prefixes["openssl"],
             "library_prefixes": ";".join(str(ctx.prefixes[name]) for name in ("zlib", "pcre2", "libpng")),
             "dfu_util": ctx.prefixes["dfu_util"] / "bin/dfu-util.exe"}
    if any("\n" in str(path) for path in paths.values()):
        sys.exit(f"A line break in the cache's path cannot be written to {results}: {cache!r}")
    results.write_text("".join(f"{name}={path}\n" for name, path in paths.items()))


if __name__ == "__main__":
    main(pathlib.Path(sys.argv[1]).resolve())
