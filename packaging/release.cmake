# What the packaging scripts read of this release, written into the build tree
# so that none of them parses this project's files: its version, and who makes
# it (the Debian package's Maintainer, the SBOMs' manufacturer and author; a
# vendor replaces the placeholder with -DNV38K_PACKAGE_MAINTAINER=...).
set(NV38K_PACKAGE_MAINTAINER "NV38K upgrade tool maintainers <maintainers@nv38k.example>"
    CACHE STRING "Maker of the tool, as \"Name <address>\": the Debian package's Maintainer and the SBOMs' manufacturer")
# Until when the vendor promises security updates for this release; the
# installer, the Debian package and the README show it.
set(NV38K_SUPPORT_UNTIL "2031-12-31" CACHE STRING "Last day of security updates, YYYY-MM-DD")
if(NOT NV38K_SUPPORT_UNTIL MATCHES "^[0-9][0-9][0-9][0-9]-[01][0-9]-[0-3][0-9]$")
    message(FATAL_ERROR "NV38K_SUPPORT_UNTIL must be a date, YYYY-MM-DD")
endif()
file(WRITE ${CMAKE_BINARY_DIR}/nv38k-support-until.txt "${NV38K_SUPPORT_UNTIL}\n")
file(WRITE ${CMAKE_BINARY_DIR}/nv38k-version.txt "${PROJECT_VERSION}\n")
file(WRITE ${CMAKE_BINARY_DIR}/nv38k-maintainer.txt "${NV38K_PACKAGE_MAINTAINER}\n")
