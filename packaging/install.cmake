# What `cmake --install` puts where on Linux: the program, the launcher that
# the menu entry runs, the entry and its icon, the udev rule that lets the
# logged-in user reach the keyboard, and nv38k-publish, which vendors publish
# with. `cpack -G DEB` packages the same.
include(GNUInstallDirs)
install(TARGETS nv38k-upgrade-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(NOT UNIX OR APPLE)
    return()
endif()
install(TARGETS nv38k-publish RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# udev reads rules only from /usr/lib and /etc, whatever the prefix.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(udev_rules_default /usr/lib/udev/rules.d)
else()
    set(udev_rules_default /etc/udev/rules.d)
endif()
set(NV38K_UDEV_RULES_DIR ${udev_rules_default} CACHE PATH "Where the udev rule is installed")
set(NV38K_DFU_UTIL /usr/bin/dfu-util CACHE FILEPATH
    "The dfu-util that the launcher puts in each user's working directory")

# The tool works relative to the directory it starts in; started from the
# menu, that would be the home directory, without dfu-util in place.
set(NV38K_LAUNCHER ${CMAKE_INSTALL_FULL_LIBEXECDIR}/nv38k-upgrade-tool/launch)
configure_file(packaging/nv38k-upgrade-tool-launcher.in launch @ONLY)
configure_file(packaging/nv38k-upgrade-tool.desktop.in nv38k-upgrade-tool.desktop @ONLY)
install(PROGRAMS ${CMAKE_CURRENT_BINARY_DIR}/launch
        DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/nv38k-upgrade-tool)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/nv38k-upgrade-tool.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/nv38k-upgrade-tool.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
install(FILES packaging/70-nv38k-dfu.rules DESTINATION ${NV38K_UDEV_RULES_DIR})
# The defaults of the tool's settings for every user, where Qt looks for them
# (XDG's system configuration folder); purging the package removes them.
install(FILES packaging/nv38k-upgrade-tool.conf DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/xdg/NV38K)

# What software centres show (AppStream), under an id that starts with the
# vendor's domain name reversed.
set(NV38K_VENDOR_ID "example.nv38k" CACHE STRING
    "The vendor's domain name reversed (com.example): the start of the AppStream id")
if(NOT NV38K_VENDOR_ID MATCHES "^[a-z][a-z0-9-]*(\\.[a-z0-9][a-z0-9-]*)+$")
    message(FATAL_ERROR "NV38K_VENDOR_ID must be a domain name reversed, such as com.example")
endif()
set(NV38K_APPSTREAM_ID ${NV38K_VENDOR_ID}.upgrade_tool)
string(REPLACE "." ";" vendor_domain "${NV38K_VENDOR_ID}")
list(REVERSE vendor_domain)
list(JOIN vendor_domain "." vendor_domain)
set(NV38K_VENDOR_HOMEPAGE https://${vendor_domain}/)
configure_file(packaging/nv38k-upgrade-tool.metainfo.xml.in ${NV38K_APPSTREAM_ID}.metainfo.xml
               @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${NV38K_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

include(packaging/deb.cmake)
