# What the packaging scripts read of this release, written into the build tree
# so that none of them parses this project's files: its version, and who makes
# it (the Debian package's Maintainer, the SBOMs' manufacturer and author; a
# vendor replaces the placeholder with -DNV38K_PACKAGE_MAINTAINER=...).
set(NV38K_PACKAGE_MAINTAINER "NV38K upgrade tool maintainers <maintainers@nv38k.example>"
    CACHE STRING "Maker of the tool, as \"Name <address>\": the Debian package's Maintainer and the SBOMs' manufacturer")
file(WRITE ${CMAKE_BINARY_DIR}/nv38k-version.txt "${PROJECT_VERSION}\n")
file(WRITE ${CMAKE_BINARY_DIR}/nv38k-maintainer.txt "${NV38K_PACKAGE_MAINTAINER}\n")
