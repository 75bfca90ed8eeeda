#!/usr/bin/env bash
# Installs the build into a scratch prefix with `cmake --install`, builds the .deb with CPack,
# checks both layouts, the package's dependencies and lintian's verdict, unpacks the .deb into a
# scratch root and starts the program from there under Xvfb through the demo's happy path.
# Usage: install-and-run.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vexa-e2e-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
failed=0
pass() { echo "PASS: $*"; }
fail() {
    echo "FAIL: $*"
    failed=$((failed + 1))
}
expect_files() {
    local root=$1 f
    shift
    for f in "$@"; do
        if [ -e "$root/$f" ]; then pass "$root holds $f"; else fail "$root lacks $f"; fi
    done
}
layout=(
    bin/vexa
    lib/vexa/liblame_enc.so
    share/vexa/movie/host.html
    share/vexa/movie/bridge.js
    share/vexa/movie/ruffle/ruffle.js
    share/applications/vexa.desktop
    share/metainfo/com.quinbery.vexa.metainfo.xml
    share/icons/hicolor/scalable/apps/vexa.svg
    share/icons/hicolor/16x16/apps/vexa.png
    share/icons/hicolor/48x48/apps/vexa.png
    share/icons/hicolor/256x256/apps/vexa.png
    share/man/man1/vexa.1.gz
    share/doc/vexa/copyright
    share/doc/vexa/changelog.gz
)
# A private library has no place on the program's path.
expect_no_files() {
    local root=$1 f
    shift
    for f in "$@"; do
        if [ -e "$root/$f" ]; then fail "$root holds $f"; else pass "$root has no $f"; fi
    done
}

# ---- cmake --install into a scratch prefix -------------------------------------------------------
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 || { cat "$scratch/install.log"; fail "cmake --install"; }
expect_files "$prefix" "${layout[@]}"
expect_no_files "$prefix" bin/liblame_enc.so
if ls "$prefix"/share/vexa/movie/ruffle/*.wasm >/dev/null 2>&1; then pass "the Ruffle wasm is installed"; else fail "no Ruffle wasm installed"; fi

version=$(awk -F'"' '/#define VEXA_VERSION /{print $2}' "$build/generated/BuildConfig.h")
out=$("$prefix/bin/vexa" --version 2>&1) && [ "$out" = "vexa $version" ] &&
    pass "vexa --version says '$out'" || fail "vexa --version said '$out'"
out=$("$prefix/bin/vexa" --help 2>&1) && grep -q '^Usage: vexa' <<<"$out" &&
    pass "vexa --help shows the usage" || fail "vexa --help: $out"
set +e
out=$("$prefix/bin/vexa" --no-such-option 2>&1)
rc=$?
set -e
if [ "$rc" = 2 ] && grep -q "unknown option '--no-such-option'" <<<"$out"; then
    pass "an unknown option exits 2 with a clear error"
else
    fail "unknown option: status $rc, '$out'"
fi

# The window's class must be what the desktop file promises.
wmclass=$(sed -n 's/^StartupWMClass=//p' "$prefix/share/applications/vexa.desktop")
icon=$(sed -n 's/^Icon=//p' "$prefix/share/applications/vexa.desktop")
[ "$wmclass" = vexa ] && [ "$icon" = vexa ] && pass "desktop file: StartupWMClass=vexa, Icon=vexa" ||
    fail "desktop file: StartupWMClass=$wmclass Icon=$icon"

# ---- the Debian package --------------------------------------------------------------------------
pkg=$scratch/pkg
if cpack --config "$build/CPackConfig.cmake" -G DEB -B "$pkg" >"$scratch/cpack.log" 2>&1; then
    pass "cpack -G DEB"
else
    cat "$scratch/cpack.log"
    fail "cpack -G DEB"
fi
deb=$(ls "$pkg"/vexa_*.deb 2>/dev/null | head -n 1 || true)
if [ -n "$deb" ]; then
    pass "package file $(basename "$deb")"
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    root=$scratch/root
    dpkg-deb -x "$deb" "$root"
    # Every library that the package's programs link is provided by a package it depends on.
    for elf in "$root/usr/bin/vexa" "$root/usr/lib/vexa/liblame_enc.so"; do
        for soname in $(objdump -p "$elf" | awk '/NEEDED/{print $2}'); do
            # (awk reads to the end: an early exit would break the pipe under pipefail)
            path=$(ldconfig -p | awk -v n="$soname" '$1 == n && !found {print $NF; found = 1}')
            owner=""
            if [ -n "$path" ]; then
                owner=$({ dpkg -S "$(readlink -f "$path")" 2>/dev/null || dpkg -S "$path" 2>/dev/null || true; } |
                    awk -F: 'NR == 1 {print $1}')
            fi
            if [ -z "$owner" ]; then
                fail "$(basename "$elf") needs $soname, which no installed package provides"
            elif tr ',' '\n' <<<"$depends" | awk '{print $1}' | grep -q -x -F "$owner"; then
                pass "$(basename "$elf") needs $soname: the package depends on $owner"
            else
                fail "$(basename "$elf") needs $soname from $owner, which Depends lacks"
            fi
        done
    done
    expect_files "$root/usr" "${layout[@]}"
    expect_no_files "$root/usr" bin/liblame_enc.so
    if tr ',' '\n' <<<"$depends" | awk '{print $1}' | grep -q -x -F fonts-wqy-microhei; then
        pass "the package depends on the CJK font fonts-wqy-microhei"
    else
        fail "Depends lacks fonts-wqy-microhei"
    fi
    # lintian: no error and no warning (informational tags are shown, not counted).
    if command -v lintian >/dev/null; then
        lintian --tag-display-limit 0 "$deb" >"$scratch/lintian.log" 2>&1 || true
        cat "$scratch/lintian.log"
        errors=$(grep -c '^E: ' "$scratch/lintian.log" || true)
        warnings=$(grep -c '^W: ' "$scratch/lintian.log" || true)
        if [ "$errors" = 0 ] && [ "$warnings" = 0 ]; then
            pass "lintian: 0 errors, 0 warnings"
        else
            fail "lintian: $errors errors, $warnings warnings"
        fi
    else
        fail "lintian is not installed (tools/packages.txt)"
    fi
    # Installable: apt resolves every dependency (a dry run; nothing is changed).
    if command -v apt-get >/dev/null; then
        if apt-get install -s -q "$deb" >"$scratch/apt.log" 2>&1; then
            pass "apt-get install ./$(basename "$deb") resolves (dry run)"
        else
            tail -n 20 "$scratch/apt.log"
            fail "apt-get cannot install the package"
        fi
    fi
    # The installed program, started from the unpacked package under Xvfb, plays the demo.
    if "$src/tests/e2e/demo/happy-path.sh" "$build" "$src" "$root/usr/bin/vexa"; then
        pass "the program from the package ran the demo lesson"
    else
        fail "the program from the package did not run the demo lesson"
    fi
    # Without its installed library the program fetches the one of this build from the demo site;
    # the lesson's MP3 upload shows that the fetched copy passed its digest check and was loaded.
    rm "$root/usr/lib/vexa/liblame_enc.so"
    if "$src/tests/e2e/demo/happy-path.sh" "$build" "$src" "$root/usr/bin/vexa"; then
        pass "without /usr/lib/vexa/liblame_enc.so the program fetched the library and recorded MP3"
    else
        fail "without /usr/lib/vexa/liblame_enc.so the lesson did not record and upload an MP3"
    fi
else
    fail "no .deb was made"
fi

echo "package checks: $failed failed"
[ "$failed" = 0 ]
