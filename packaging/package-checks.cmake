# Read by cpack before it packages anything (deb.cmake names it): every
# package carries a tool release key, so that the tool it holds shows only
# signed update notices.
if(NOT CPACK_NV38K_TOOL_RELEASE_KEYS)
    # The leading space keeps CMake from breaking the line.
    message(FATAL_ERROR " cpack: this build has no tool release key, which every package needs;"
                        " configure it with -DNV38K_TOOL_RELEASE_KEY=FILE (see docs/building.md)")
endif()
