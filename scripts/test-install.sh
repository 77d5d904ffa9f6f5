#!/usr/bin/env bash
# test-install.sh [build-dir]: checks an already-built tree as its users meet it, without root:
#   - installs it to a temporary prefix; every public header compiles on its own;
#   - a small consumer builds and runs against that prefix through the CMake package Velqor and
#     through pkg-config; the examples build the same way and run against the installed xmlda-sim;
#   - the manual pages render with `man -l` without warnings, the desktop entry is valid, the
#     bash completion completes;
#   - the Debian packages are made with CPack, unpacked with `dpkg -x` into a clean directory,
#     and the programs run from there and report the project's version.
# Nothing is rebuilt: the build tree must be complete (scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=$(realpath "${1:-build}")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
jobs=$(nproc)
work=$(mktemp -d)
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
start=$SECONDS
step() { echo "--- $* ($((SECONDS - start)) s)"; }
fail() {
    echo "test-install: $*" >&2
    exit 1
}
# expect WHAT EXPECTED ACTUAL
expect() { [ "$2" = "$3" ] || fail "$1: expected \"$2\", got \"$3\""; }

step "install to a temporary prefix"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/tagscope-cli bin/tagscope-bridge bin/xmlda-sim lib/systemd/system/tagscope-bridge@.service lib/pkgconfig/velqor.pc lib/cmake/Velqor/VelqorConfig.cmake \
    include/velqor/model/Velqor.h include/velqor/contract/VelqorVersion.h; do
    [ -e "$prefix/$f" ] || fail "not installed: $f"
done

step "every public header compiles on its own"
(cd "$prefix/include/velqor" && find . -name '*.h' | sed 's|^\./||' | sort) >"$work/headers"
[ -s "$work/headers" ] || fail "no headers installed"
xargs -P "$jobs" -I{} sh -c 'printf "#include <%s>\n" "$1" |
    g++ -std=c++20 -fsyntax-only -Wall -Wextra -Wpedantic -Werror -I"$2" -x c++ - ||
    { echo "header does not compile alone: $1" >&2; exit 255; }' _ {} "$prefix/include/velqor" \
    <"$work/headers"
echo "$(wc -l <"$work/headers") headers"

step "xmlda-sim from the prefix"
"$prefix/bin/xmlda-sim" --port 0 --clock-ms 100 --load-items 10 >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do
    grep -q 'listening' "$work/sim.out" && break
    kill -0 "$sim_pid" 2>/dev/null || fail "xmlda-sim ended: $(cat "$work/sim.out")"
    sleep 0.1
done
url=$(sed -n 's/.* url \(http[^ ]*\).*/\1/p' "$work/sim.out")
[ -n "$url" ] || fail "xmlda-sim printed no address"

step "consumer through the CMake package"
cmake -S tests/install/consumer -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/consumer" "$url" >"$work/consumer.out"
expect "consumer (CMake)" "Velqor $version
running" "$(cat "$work/consumer.out")"

step "consumer through pkg-config"
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
expect "pkg-config version" "$version" "$(pkg-config --modversion velqor)"
# shellcheck disable=SC2046 # the flags are words
g++ -std=c++20 -O1 tests/install/consumer/main.cpp -o "$work/consumer-pc" $(pkg-config --cflags --libs velqor)
expect "consumer (pkg-config)" "Velqor $version
running" "$("$work/consumer-pc" "$url")"

step "examples through the CMake package, against xmlda-sim"
cmake -S examples -B "$work/examples" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/examples" -j "$jobs" >/dev/null
"$work/examples/read_item" "$url" Static/Int | grep '^Static/Int = ' >/dev/null ||
    fail "read_item: $("$work/examples/read_item" "$url" Static/Int 2>&1)"
changes=$("$work/examples/watch_items" "$url" 4 Dynamic/Double Dynamic/Int | grep -c ' = ') ||
    fail "watch_items failed"
[ "$changes" -ge 4 ] || fail "watch_items: $changes changes"
"$work/examples/browse_tree" "$url" 3 >"$work/tree.out"
grep -q '^Plant$' "$work/tree.out" && grep -q '^    Tank1$' "$work/tree.out" ||
    fail "browse_tree: $(head -20 "$work/tree.out")"
kill "$sim_pid" && wait "$sim_pid" 2>/dev/null || true
sim_pid=""

step "manual pages, desktop entry, completion"
for page in "$prefix"/share/man/man1/*.1.gz; do
    MANWIDTH=80 man -l --warnings "$page" 2>"$work/man.err" >"$work/man.out"
    [ -s "$work/man.err" ] && fail "$(basename "$page"): $(cat "$work/man.err")"
    grep -q '^NAME' "$work/man.out" || fail "$(basename "$page") renders no NAME section"
done
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$src/packaging/tagscope.desktop"
fi
if [ -f /usr/share/bash-completion/bash_completion ]; then
    got=$(bash -c '. /usr/share/bash-completion/bash_completion; . "$1"
        COMP_WORDS=(tagscope-cli watch URL --form); COMP_CWORD=3; COMP_LINE="${COMP_WORDS[*]}"
        COMP_POINT=${#COMP_LINE}; _tagscope_cli; echo "${COMPREPLY[*]}"' _ \
        "$prefix/share/bash-completion/completions/tagscope-cli")
    expect "completion of 'watch --form'" "--format" "$got"
fi

step "Debian packages"
(cd "$build" && cpack -G DEB -B "$work/deb" >"$work/cpack.out") || fail "cpack: $(cat "$work/cpack.out")"
deb=$work/deb/tagscope_${version}_amd64.deb
[ -f "$deb" ] || fail "no $(basename "$deb") in: $(ls "$work/deb")"
depends=$(dpkg-deb -f "$deb" Depends)
echo "tagscope depends: $depends"
case $depends in *libc6*) ;; *) fail "tagscope: no library dependencies found" ;; esac
# grep reads to the end: with pipefail, an early exit would break the writer's pipe.
dpkg-deb -c "$work/deb/libvelqor-dev_${version}_amd64.deb" | grep 'pkgconfig/velqor.pc' >/dev/null ||
    fail "libvelqor-dev holds no velqor.pc"
root=$work/root
dpkg -x "$deb" "$root"
expect "tagscope-cli --version" "tagscope-cli $version" "$("$root/usr/bin/tagscope-cli" --version)"
expect "xmlda-sim --version" "xmlda-sim $version" "$("$root/usr/bin/xmlda-sim" --version)"
"$root/usr/bin/xmlda-sim" --help | grep -- '--port' >/dev/null || fail "xmlda-sim --help"
expect "tagscope-bridge --version" "tagscope-bridge $version" "$("$root/usr/bin/tagscope-bridge" --version)"
if [ -x "$root/usr/bin/tagscope" ]; then
    expect "tagscope --version" "tagscope $version" "$(env -u DISPLAY "$root/usr/bin/tagscope" --version)"
    env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/tagscope" --help-all | grep -- '--screenshot' >/dev/null ||
        fail "tagscope --help-all without a display"
fi
for f in usr/share/man/man1/tagscope-cli.1.gz usr/share/man/man1/tagscope-bridge.1.gz usr/share/doc/tagscope/copyright \
    usr/share/applications/tagscope.desktop usr/share/bash-completion/completions/tagscope-cli \
    usr/share/mime/packages/tagscope.xml; do
    [ -f "$root/$f" ] || fail "not in the package: /$f"
done

step "done"
echo "test-install: all checks passed"
