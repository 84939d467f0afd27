# `cpack -G DEB` in a build configured with -DCMAKE_INSTALL_PREFIX=/usr makes
# the Debian package; scripts/package.sh does so.

# Debian wants the changelog and manual pages compressed, reproducibly.
configure_file(packaging/deb/changelog.in changelog @ONLY)
set(manual_pages nv38k-upgrade-tool.1 nv38k-publish.1)
foreach(page ${manual_pages})
    configure_file(packaging/${page}.in ${page} @ONLY)
endforeach()
foreach(file changelog ${manual_pages})
    add_custom_command(OUTPUT ${file}.gz COMMAND gzip -9nc ${file} > ${file}.gz
                       DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${file})
endforeach()
list(TRANSFORM manual_pages APPEND .gz)
add_custom_target(nv38k_compressed_docs ALL DEPENDS changelog.gz ${manual_pages})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz packaging/deb/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
list(TRANSFORM manual_pages PREPEND ${CMAKE_CURRENT_BINARY_DIR}/)
install(FILES ${manual_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nv38k-upgrade-tool)
set(CPACK_PACKAGE_VENDOR NV38K)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware download tool for the NV38K keyboard")
set(CPACK_PACKAGE_DESCRIPTION
    "Shows the current firmware information for the NV38K USB keyboard from\n"
    "the vendor's server, checks through dfu-util that the keyboard is\n"
    "attached in DFU mode and downloads the firmware for the flashing tool.\n"
    "It never writes to the device.\n"
    "nv38k-publish, for the vendor, writes and checks the server's files.\n"
    "Security updates for this release are provided until ${NV38K_SUPPORT_UNTIL}.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${NV38K_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The Qt libraries come from dpkg-shlibdeps; the launcher links Debian's
# dfu-util. Qt's texts that the tool shows are translated in the program.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "dfu-util")
# The window's texts are Chinese.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/deb/postinst ${CMAKE_CURRENT_SOURCE_DIR}/packaging/deb/postrm
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/deb/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# A build without a tool release key is never packaged.
set(CPACK_NV38K_TOOL_RELEASE_KEYS "${NV38K_TOOL_RELEASE_KEYS_RAW}")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_SOURCE_DIR}/packaging/package-checks.cmake)
include(CPack)
