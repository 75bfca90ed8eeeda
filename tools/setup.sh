#!/usr/bin/env bash
# Installs what the build and the tests need (Debian packages, the movie's npm packages) and
# builds the program. Idempotent: quick when nothing changed. Run as root on Debian 12.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

mapfile -t wanted < <(grep -v -E '^\s*(#|$)' tools/packages.txt)
missing=()
for pkg in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done
if ! command -v npm >/dev/null 2>&1; then missing+=(nodejs npm); fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The movie host's JavaScript packages, pinned by the lock file.
if [ -f movie/package-lock.json ]; then
    if [ ! -f movie/node_modules/.package-lock.json ] || [ movie/package-lock.json -nt movie/node_modules/.package-lock.json ]; then
        (cd movie && npm ci --no-audit --no-fund --loglevel=error)
    fi
fi

# build [dir] [cmake options...]: configure once, then build.
build() {
    local dir=$1
    shift
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S . -B "$dir" -G Ninja "$@"
    fi
    cmake --build "$dir" -j"$(nproc)"
}

if [ "${VEXA_SETUP_NO_BUILD:-0}" != 1 ]; then
    build build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
