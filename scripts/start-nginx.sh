# Sourced: start_nginx PORT ROOT CERT KEY PREFIX starts nginx in the background
# with demo/nginx.conf.in, serving ROOT over HTTPS on 127.0.0.1:PORT, waits
# until it answers and sets nginx_pid. stop_nginx ends it. pick_port FILE
# prints a free loopback port for FILE's user, the one kept in FILE while it
# stays free.

# The port is compiled into the tool before nginx binds it, and CI's stages
# run side by side, so a port is reserved, not just found free: the first
# to make its folder under build/ports has it, and it stays with the FILE
# that reserved it.
pick_port() {
    local file=$1 reserved owner port
    reserved=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/ports
    owner=$(realpath -m "$file")
    mkdir -p "$reserved"
    port=$(cat "$file" 2>/dev/null || echo 48443)
    while :; do
        if mkdir "$reserved/$port" 2>/dev/null; then
            echo "$owner" >"$reserved/$port/owner"
        elif [[ $(cat "$reserved/$port/owner" 2>/dev/null) != "$owner" ]]; then
            port=$((30000 + RANDOM % 20000))
            continue
        fi
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
        rm -rf "${reserved:?}/$port"  # something else listens there
        port=$((30000 + RANDOM % 20000))
    done
    echo "$port" >"$file"
    echo "$port"
}
start_nginx() {
    local port=$1 root=$2 cert=$3 key=$4 prefix=$5 here
    here=$(dirname "${BASH_SOURCE[0]}")
    mkdir -p "$prefix"
    sed -e "s|@PORT@|$port|g" -e "s|@ROOT@|$root|g" -e "s|@CERT@|$cert|g" \
        -e "s|@KEY@|$key|g" -e "s|@PREFIX@|$prefix|g" \
        -e "s|@USER@|$([[ $(id -u) -eq 0 ]] && echo 'user root;')|g" \
        "$here/../demo/nginx.conf.in" >"$prefix/nginx.conf"
    "$(command -v nginx || echo /usr/sbin/nginx)" -p "$prefix" -e "$prefix/error.log" \
        -c "$prefix/nginx.conf" &
    nginx_pid=$!
    for _ in $(seq 50); do
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
        kill -0 "$nginx_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "nginx did not start; see $prefix/error.log" >&2
    return 1
}

stop_nginx() {
    [[ -n ${nginx_pid:-} ]] || return 0
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=
}
