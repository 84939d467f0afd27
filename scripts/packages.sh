# Debian packages the build, the tests and the demo need; sourced by the scripts.
build_packages=(cmake make g++ qtbase5-dev qtbase5-dev-tools libqt5network5 libssl3 openssl ca-certificates)
# A CJK font so that the window's Chinese texts render.
font_packages=(fonts-wqy-microhei)
# The real parts the demo and the end-to-end tests run against.
server_packages=(nginx dfu-util)
