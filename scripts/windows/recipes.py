"""How each component of the Windows programs is configured and built, one
recipe a component, in the order build.py builds them. A recipe's options
key its cached build; `build` runs in an empty build folder."""
import pathlib
import shutil
from dataclasses import dataclass, field
from typing import Callable, List

CROSS = "i686-w64-mingw32-"
TOP = pathlib.Path(__file__).resolve().parents[2]
# Hardening, for every component as for the tool (cmake/mingw-w64-i686.cmake):
# stack cookies, with GCC's libssp linked statically where a program is
# linked; string and memory calls that MinGW-w64's headers can check
# (libssp's __memcpy_chk and the like); and programs marked as having no SEH
# handlers, which i686 MinGW code does not register (it unwinds with DWARF
# tables). Static libraries only compile: the link flags are the programs'.
HARDENING = ["-fstack-protector-strong", "-D_FORTIFY_SOURCE=2"]
HARDENING_LINK = ["-fstack-protector-strong", "-Wl,--no-seh"]


def cflags(ctx):
    """A C library's CFLAGS: optimised as Debian builds it, a section per
    function and datum for the programs' linker to drop, hardened, and no
    path of the cache in the objects (asserts name their files)."""
    return " ".join(["-O2", "-ffunction-sections", "-fdata-sections", f"-ffile-prefix-map={ctx.cache}/=",
                     *HARDENING])


@dataclass
class Recipe:
    name: str  # of the cached prefix
    package: str  # the Debian source package, as pinned
    options: List[str]  # its configure options, which key its cached build
    configure: Callable[[pathlib.Path], List[str]]  # its configure line for a prefix
    build: Callable[[pathlib.Path, pathlib.Path], None]  # (source, prefix)
    also_keyed: List[str] = field(default_factory=list)  # more that changes the build


def openssl(ctx):
    # Static, for QSslSocket and the tool's own SHA-256 and Ed25519. Nothing
    # in it may read a file or load a module at run time that another user
    # could plant: no configuration autoloading (the tool also turns it off
    # before Qt starts OpenSSL, since some of OpenSSL 3.0's calls load it
    # regardless), no engines and no DSO to load providers with, and folders
    # that only administrators may create (64-bit Windows' program folders,
    # which 32-bit Windows has too; not "(x86)"). No source file names. Its
    # Unix makefile takes C:/... for a relative path, so the folders are given
    # relative to the prefix: OPENSSLDIR C:/Program Files/Common Files/SSL,
    # ENGINESDIR and MODULESDIR in C:/Program Files/OpenSSL/lib.
    # It accepts no more than Debian's build, which the tool uses on Linux:
    # the same algorithms and protocols left out (debian/rules), and security
    # level 2 (debian-targets.patch) built in as the default, since no
    # configuration is read that could raise it: no RSA or DH key under 2048 bits.
    options = ["mingw", "no-shared", "no-tests", "no-autoload-config", "no-engine", "no-dso",
               "no-filenames", "no-idea", "no-mdc2", "no-rc5", "no-zlib", "no-ssl3",
               "no-ssl3-method", "-DOPENSSL_TLS_SECURITY_LEVEL=2", f"--cross-compile-prefix={CROSS}",
               "--prefix=C:/Program Files", "--openssldir=Common Files/SSL", "--libdir=OpenSSL/lib",
               "-ffunction-sections", "-fdata-sections", "-fno-asynchronous-unwind-tables", *HARDENING]

    def configure(prefix):
        return ["Configure", *options]

    def build(source, prefix):
        # Debian's pic.patch makes the x86 assembler ELF-only (GOT-relative
        # calls), which COFF cannot represent; upstream's code is right here.
        pic = source / "debian/patches/pic.patch"
        if ctx.succeeds(["patch", "-d", source, "-R", "-p1", "-s", "-f", "--dry-run"], stdin=pic):
            ctx.run(["patch", "-d", source, "-R", "-p1", "-s", "-f"], stdin=pic)
        ctx.configure(source, configure(prefix))
        ctx.logged("make.log", ["make", f"-j{ctx.jobs}", "build_libs"])
        # The prefix above is only what the library names; headers and
        # libraries go into the cache.
        (prefix / "include/openssl").mkdir(parents=True)
        (prefix / "lib").mkdir()
        for header in [*(source / "include/openssl").glob("*.h"), *pathlib.Path("include/openssl").glob("*.h")]:
            shutil.copy(header, prefix / "include/openssl")
        for library in ("libcrypto.a", "libssl.a"):
            shutil.copy(library, prefix / "lib")

    return Recipe("openssl", "openssl", options, configure, build, ["without debian/patches/pic.patch"])


def autotools(ctx, name, package, options):
    """A static library built with its autoconf configure, make and make install."""
    def configure(prefix):
        return ["configure", *options, f"--prefix={prefix}"]

    def build(source, prefix):
        ctx.configure(source, configure(prefix))
        ctx.logged("make.log", ["make", f"-j{ctx.jobs}"])
        ctx.logged("install.log", ["make", "install"])

    return Recipe(name, package, options, configure, build)


def zlib(ctx):
    # Static, for Qt (qCompress, PNG images) and libpng. Its configure takes
    # the cross compiler from CHOST and its flags from the environment only.
    environment = ["CHOST=i686-w64-mingw32", f"CFLAGS={cflags(ctx)}"]
    options = [*environment, "--static"]

    def configure(prefix):
        return [*environment, "configure", "--static", f"--prefix={prefix}"]

    def build(source, prefix):
        ctx.logged("configure.log", ["env", *environment, source / "configure", "--static", f"--prefix={prefix}"])
        ctx.logged("make.log", ["make", f"-j{ctx.jobs}", "libz.a"])
        ctx.logged("install.log", ["make", "install"])

    return Recipe("zlib", "zlib", options, configure, build)


def pcre2(ctx):
    # Static, for QRegularExpression: the 16-bit library alone. Without the
    # JIT compiler that Debian builds for i386, which needs memory both
    # writable and executable: the tool matches one short pattern on
    # dfu-util's output.
    return autotools(ctx, "pcre2", "pcre2", [
        "--host=i686-w64-mingw32", "--enable-static", "--disable-shared", "--enable-pcre2-16",
        "--disable-pcre2-8", "--disable-jit", f"CFLAGS={cflags(ctx)}"])


def libpng(ctx):
    # Static, for Qt's PNG images (the window's icons), against the zlib above.
    zlib_prefix = ctx.prefixes["zlib"]
    return autotools(ctx, "libpng", "libpng1.6", [
        "--host=i686-w64-mingw32", "--enable-static", "--disable-shared", f"CFLAGS={cflags(ctx)}",
        f"CPPFLAGS=-I{zlib_prefix}/include", f"LDFLAGS=-L{zlib_prefix}/lib"])


def qt(ctx):
    # Static and release, qtbase only: Core, Gui, Widgets, Network, Test and
    # the Windows platform plugin. Without ICU, Qt's own codecs provide GBK.
    options = [
        "-xplatform", "win32-g++", "-device-option", f"CROSS_COMPILE={CROSS}",
        # Source file names relative to the cache, and unwind tables only where
        # exceptions need them. GCC 12's mod/ref analysis takes QByteArray's
        # raw-data offsets for proof that a buffer is never read, and drops the
        # stores into it (QByteArray::replace(char, ...) then replaces nothing).
        # PCRE2's header declares DLL imports unless told the library is static.
        "-device-option",
        f"QMAKE_CFLAGS=-ffile-prefix-map={ctx.cache}/= -fno-asynchronous-unwind-tables -fno-ipa-modref "
        + " ".join([*HARDENING, "-DPCRE2_STATIC"]),
        # Configure's test programs link the stack protector's library.
        "-device-option", "QMAKE_LFLAGS=" + " ".join(HARDENING_LINK),
        "-static", "-release", "-opensource", "-confirm-license", "-nomake", "examples", "-nomake", "tests",
        # Qt's prefix is the program's own folder: nothing is looked up in the
        # folder it was built in, which would be a folder on drive C: there.
        "-feature-relocatable",
        # Smaller: optimised for size, unused sections dropped at link time.
        "-optimize-size", "-gc-binaries",
        "-openssl-linked", "-feature-textcodec", "-feature-big_codecs",
        # Debian's source lacks the tablet header that the Windows plugin includes.
        "-no-feature-tabletevent",
        "-no-icu", "-no-opengl", "-no-direct2d", "-no-vulkan", "-no-dbus",
        "-no-feature-sql", "-no-feature-xml", "-no-feature-concurrent", "-no-feature-printer",
        "-no-feature-bearermanagement", "-no-feature-tuiotouch", "-no-gif", "-no-ico",
        # Widgets, formats and protocols that the tool never uses.
        "-no-feature-graphicsview", "-no-feature-mdiarea", "-no-feature-calendarwidget",
        "-no-feature-dockwidget", "-no-feature-wizard", "-no-feature-undocommand",
        "-no-feature-lcdnumber", "-no-feature-dial", "-no-feature-splashscreen",
        "-no-feature-keysequenceedit", "-no-feature-fontcombobox", "-no-feature-columnview",
        "-no-feature-textodfwriter", "-no-feature-textmarkdownreader",
        "-no-feature-textmarkdownwriter", "-no-feature-movie", "-no-feature-networkdiskcache",
        "-no-feature-ftp", "-no-feature-dnslookup", "-no-feature-dtls",
        # zlib, PCRE2 and libpng are Debian's, built above, not Qt's copies.
        # The Windows plugin draws text with Windows' own font engine (GDI,
        # DirectWrite), so FreeType is never used; Chinese needs no complex
        # shaping, which Qt's own shaper does without HarfBuzz-NG.
        "-system-zlib", "-system-pcre", "-system-libpng", "-no-libjpeg", "-no-harfbuzz", "-no-freetype",
        f"ZLIB_PREFIX={ctx.prefixes['zlib']}", f"PCRE2_PREFIX={ctx.prefixes['pcre2']}",
        f"LIBPNG_PREFIX={ctx.prefixes['libpng']}",
        f"OPENSSL_PREFIX={ctx.prefixes['openssl']}",
        "OPENSSL_LIBS=-lssl -lcrypto -lws2_32 -lgdi32 -lcrypt32 -luser32 -ladvapi32",
    ]

    def configure(prefix):
        return ["configure", "-prefix", str(prefix), *options]

    def build(source, prefix):
        ctx.configure(source, configure(prefix))
        ctx.step("Configured Qt; compiling")
        ctx.logged("make.log", ["make", f"-j{ctx.jobs}"])
        ctx.logged("install.log", ["make", "install"])

    return Recipe("qt", "qtbase-opensource-src", options, configure, build)


def libusb(ctx):
    # Static; its Windows back end loads WinUSB and SetupAPI itself.
    return autotools(ctx, "libusb", "libusb-1.0", [
        "--host=i686-w64-mingw32", "--enable-static", "--disable-shared",
        "--disable-examples-build", "--disable-tests-build", f"CFLAGS={cflags(ctx)}"])


def dfu_util(ctx):
    # Which the tool runs as bin\x64\dfu-util-static.exe: linked against the
    # static libusb, C runtime and all, needing only Windows' DLLs. It carries
    # the tool's application manifest, linked in as a resource object made
    # before configure, whose test links take it too.
    libusb_prefix = ctx.prefixes["libusb"]
    manifest = TOP / "packaging/windows/application.manifest"
    options = ["--host=i686-w64-mingw32", f"CFLAGS={cflags(ctx)}",
               f"USB_CFLAGS=-I{libusb_prefix}/include/libusb-1.0",
               f"USB_LIBS=-L{libusb_prefix}/lib -lusb-1.0",
               f"LDFLAGS=-static -s -Wl,--no-insert-timestamp {' '.join(HARDENING_LINK)} "
               f"{ctx.cache}/build/dfu_util/manifest.o"]

    def configure(prefix):
        return ["configure", *options, f"--prefix={prefix}"]

    def build(source, prefix):
        ctx.run([f"{CROSS}windres", "-O", "coff", "-o", "manifest.o"], input=f'1 24 "{manifest}"\n')
        ctx.configure(source, configure(prefix))
        ctx.logged("make.log", ["make", f"-j{ctx.jobs}", "-C", "src", "dfu-util.exe"])
        (prefix / "bin").mkdir(parents=True)
        shutil.copy("src/dfu-util.exe", prefix / "bin/dfu-util.exe")

    return Recipe("dfu_util", "dfu-util", options, configure, build,
                  [f"manifest {ctx.sha256(manifest)}  -"])


RECIPES = [openssl, zlib, pcre2, libpng, qt, libusb, dfu_util]
