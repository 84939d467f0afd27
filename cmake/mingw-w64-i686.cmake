# Cross-compiling for 32-bit Windows with Debian's MinGW-w64 (POSIX thread
# model). NV38K_WINDOWS_PREFIX lists the prefixes of the static Qt, OpenSSL
# and the libraries Qt links (zlib, PCRE2, libpng) built for it;
# scripts/build-windows.sh passes them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

# The POSIX thread model's compilers, by name: Qt's test library needs
# std::mutex, which the win32 model lacks.
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(NV38K_WINDOWS_PREFIX "" CACHE STRING "Prefixes of the static Qt, OpenSSL and the libraries Qt links, for Windows")
# try_compile() projects read this file again and need the same prefixes.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NV38K_WINDOWS_PREFIX)

# Libraries, headers and CMake packages come only from the Windows prefixes,
# programs (moc, rcc, uic) from the host. The folders holding the prefixes
# are roots too: Qt names the zlib, PCRE2 and libpng it was built against
# by their paths in the same cache.
set(_nv38k_roots ${NV38K_WINDOWS_PREFIX})
foreach(_prefix IN LISTS NV38K_WINDOWS_PREFIX)
    get_filename_component(_folder "${_prefix}" DIRECTORY)
    list(APPEND _nv38k_roots "${_folder}")
endforeach()
list(REMOVE_DUPLICATES _nv38k_roots)
set(CMAKE_FIND_ROOT_PATH ${_nv38k_roots} /usr/i686-w64-mingw32)
set(CMAKE_PREFIX_PATH ${NV38K_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A section per function and per datum, so that the linker drops what
# nothing uses, as it does in Qt and OpenSSL, which are built the same way.
# Hardened as its components are (scripts/windows/recipes.py): stack
# cookies and checked string and memory calls, from GCC's libssp.
set(_nv38k_hardening "-fstack-protector-strong -D_FORTIFY_SOURCE=2")
set(CMAKE_C_FLAGS_INIT "-ffunction-sections -fdata-sections ${_nv38k_hardening}")
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fdata-sections ${_nv38k_hardening}")
# libgcc, libstdc++, winpthread and libssp linked in: the .exe needs only
# Windows' DLLs. No link time in the PE header, so that a build can be
# reproduced. No SEH handlers: i686 MinGW code unwinds with DWARF tables.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-static -Wl,--no-insert-timestamp -Wl,--gc-sections -fstack-protector-strong -Wl,--no-seh")
# Release builds ship without the symbol table, a third of the file.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT -s)
set(CMAKE_EXE_LINKER_FLAGS_MINSIZEREL_INIT -s)

# CTest runs the Windows test programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
