# Debian source packages for the Windows build, sourced by
# scripts/build-windows.sh and scripts/update-source-pins.sh.
pins_file=packaging/windows/source-pins.txt
# Where the Windows build caches its Qt, OpenSSL, libusb and dfu-util, and
# the source packages it downloads.
windows_cache=$(realpath -m "${NV38K_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/nv38k-windows}")

# Adds deb-src entries made from this machine's own deb entries, unless
# apt has some already.
ensure_deb_src() {
    local apt_lists=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list)
    local apt_sources=(/etc/apt/sources.list.d/*.sources) sources lists
    grep -Eqs '^[[:space:]]*(deb-src[[:space:]]|Types:.*[[:space:]]deb-src([[:space:]]|$))' \
        "${apt_lists[@]}" "${apt_sources[@]}" && return
    echo "Adding deb-src entries for apt-get source"
    sources=$(awk 'BEGIN { RS = "" }
        {
            n = split($0, line, "\n"); out = ""; deb = 0; off = 0
            for (i = 1; i <= n; i++) {
                if (line[i] ~ /^#/) continue
                if (line[i] ~ /^Types:/) {
                    if (line[i] ~ /[[:space:]]deb([[:space:]]|$)/) deb = 1
                    line[i] = "Types: deb-src"
                }
                if (tolower(line[i]) ~ /^enabled:[[:space:]]*no/) off = 1
                out = out line[i] "\n"
            }
            if (deb && !off) printf "%s\n", out
        }' "${apt_sources[@]}" 2>/dev/null || true)
    lists=$(sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "${apt_lists[@]}" 2>/dev/null || true)
    [[ -n $sources || -n $lists ]] || { echo "No deb entry in the apt sources to derive deb-src from" >&2; exit 1; }
    [[ -z $sources ]] || printf '%s\n' "$sources" | "${sudo[@]}" tee /etc/apt/sources.list.d/nv38k-deb-src.sources >/dev/null
    [[ -z $lists ]] || printf '%s\n' "$lists" | "${sudo[@]}" tee /etc/apt/sources.list.d/nv38k-deb-src.list >/dev/null
    "${sudo[@]}" apt-get update -qq
}

# The versions of a source package that the mirror lists, newest first.
source_versions() {
    local versions=() version sorted=() i
    if ! apt-cache showsrc --only-source "$1" 2>/dev/null | grep -q '^Version:'; then
        "${sudo[@]}" apt-get update -qq
    fi
    mapfile -t versions < <(apt-cache showsrc --only-source "$1" | sed -n 's/^Version: //p' | sort -u)
    for version in "${versions[@]}"; do
        for ((i = 0; i < ${#sorted[@]}; i++)); do
            dpkg --compare-versions "$version" gt "${sorted[i]}" && break
        done
        sorted=("${sorted[@]:0:i}" "$version" "${sorted[@]:i}")
    done
    printf '%s\n' "${sorted[@]}"
}

# The file name of a source package's .dsc: no epoch in it.
dsc_name() { echo "${1}_${2#*:}.dsc"; }

# Downloads a source package version into DIR (.dsc and tarballs), unless it
# is there. Fails when the mirror does not serve that version.
download_source() {
    local package=$1 version=$2 dir=$3
    [[ -f $dir/.complete ]] && return
    rm -rf "$dir"
    mkdir -p "$dir"
    if ! (cd "$dir" && apt-get source -qq --download-only "$package=$version") >/dev/null 2>&1; then
        rm -rf "$dir"
        return 1
    fi
    touch "$dir/.complete"
}
