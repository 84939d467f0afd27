# Sourced: where the Windows build caches its Qt, OpenSSL, libusb and
# dfu-util and the source packages it downloads, and a source package's .dsc
# name. scripts/windows/debian_sources.py does the rest.
windows_cache=$(realpath -m "${NV38K_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/nv38k-windows}")

# The file name of a source package's .dsc: no epoch in it.
dsc_name() { echo "${1}_${2#*:}.dsc"; }
