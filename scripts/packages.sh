# Debian packages the build, the tests and the demo need; sourced by the scripts.
# lrelease (qttools5-dev-tools) compiles the translation of Qt's own texts that
# the tool shows, built into the program on every platform.
build_packages=(cmake make g++ qtbase5-dev qtbase5-dev-tools qttools5-dev-tools libqt5network5 libssl3
                libssl-dev openssl ca-certificates)
# Google Benchmark, for the benchmarks that the tests' build builds too.
bench_packages=(libbenchmark-dev)
# A CJK font so that the window's Chinese texts render.
font_packages=(fonts-wqy-microhei)
# The real parts the demo and the end-to-end tests run against; umockdev
# emulates the keyboard for dfu-util (python3 writes the emulation).
server_packages=(nginx dfu-util umockdev python3)
# The checks of the menu entry and the AppStream file; and the window met through
# the accessibility bus in a desktop session of its own, as a screen reader
# meets it.
desktop_packages=(desktop-file-utils appstream
                  xvfb xauth x11-utils openbox dbus-daemon libglib2.0-bin at-spi2-core python3-pyatspi xdotool)
# The 32-bit Windows build (scripts/build-windows.sh): the MinGW-w64 cross
# compilers, and what the builds of OpenSSL, Qt, libusb and dfu-util run on
# the host (dpkg-dev unpacks the source packages, icoutils checks the icon);
# the notices it writes name the NSIS stub that the installer carries, from
# nsis-common's copyright file; lrelease compiles the translation of Qt's texts.
windows_build_packages=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
                        mingw-w64-tools g++ make cmake perl python3 dpkg-dev patch xz-utils icoutils
                        nsis-common qttools5-dev-tools)
# Running and packaging the result: Wine (an i386 package) with a virtual
# display that xdotool drives, NSIS and zip for the installer and portable zip
# (packaging/windows/make-packages.sh), and osslsigncode to sign them.
windows_packages=("${windows_build_packages[@]}" wine wine32:i386 xvfb xauth xdotool nsis zip osslsigncode)
# Making and checking the Debian package (scripts/package.sh).
deb_packages=(dpkg-dev file lintian)
# Packages whose Debian 12 version is too old for the tests, each with the
# version needed, which bookworm-backports has: osslsigncode 2.5 reports a
# timestamp in words of its own and names -ignore-timestamp otherwise.
backported_packages=(osslsigncode=2.9)
# Everything that any stage of .ci/run needs, installed in one step before
# the stages start: Wine's i386 half brings its amd64 twins to the same
# version, and an upgrade in the middle of a run would make the two release
# builds record different toolchains. The fuzzers' clang; what the package
# tables read and check releases with; the .deb's own dependencies, which
# its table installs and purges with it.
fuzz_packages=(clang-14 libclang-rt-14-dev)
release_check_packages=(jq unzip binutils faketime)
# The compiler cache that CI's builds share (ci/CMakeLists.txt).
cache_packages=(ccache)
ci_packages=("${build_packages[@]}" "${bench_packages[@]}" "${font_packages[@]}" "${server_packages[@]}"
             "${desktop_packages[@]}" "${windows_packages[@]}" "${deb_packages[@]}" "${fuzz_packages[@]}"
             "${release_check_packages[@]}" "${cache_packages[@]}" dfu-util)
