# What `cmake --install` puts where on Linux: the program, its menu entry and
# icon, and the udev rule that lets the logged-in user reach the keyboard.
include(GNUInstallDirs)
install(TARGETS nv38k-upgrade-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(UNIX AND NOT APPLE)
    # udev reads rules only from /usr/lib and /etc, whatever the prefix.
    if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
        set(udev_rules_default /usr/lib/udev/rules.d)
    else()
        set(udev_rules_default /etc/udev/rules.d)
    endif()
    set(NV38K_UDEV_RULES_DIR ${udev_rules_default} CACHE PATH "Where the udev rule is installed")

    install(FILES packaging/nv38k-upgrade-tool.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES packaging/nv38k-upgrade-tool.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
    install(FILES packaging/70-nv38k-dfu.rules DESTINATION ${NV38K_UDEV_RULES_DIR})
endif()
