#!/usr/bin/env bash
# One entry point for everything: set-up of a fresh Debian 12 machine, building,
# tests, the demo, and stubs built from a folder of your own.
#
#   ./build.sh demo                              build the stub and run it under Wine
#   ./build.sh test                              build and run every test
#   ./build.sh stub --payload DIR --out FILE.exe a stub whose payload is DIR
#   ./build.sh bench [--files N --mb M]          the whole-run benchmark
#   ./build.sh setup                             only install what the build needs
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
BUILD="$ROOT/build"
CACHE="$ROOT/.cache"
SDK_DIR="$CACHE/lzma-sdk"
export WINEPREFIX="$BUILD/wine"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

say() { printf '\033[1m==> %s\033[0m\n' "$*"; }
die() { printf 'build.sh: %s\n' "$*" >&2; exit 1; }

PACKAGES=(
  cmake ninja-build g++ pkg-config
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
  wine wine32:i386 wine64 libwine:i386
  googletest 7zip dpkg-dev xz-utils
  xvfb xauth openssl osslsigncode ca-certificates
)

need_root() {
  [ "$(id -u)" = 0 ] || die "set-up installs packages and must run as root (missing: $*)"
}

# Installs the Debian packages the build uses; does nothing when they are all there.
ensure_packages() {
  local missing=() p
  dpkg --print-foreign-architectures | grep -qx i386 || missing+=("i386-architecture")
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  need_root "${missing[@]}"
  say "installing packages: ${missing[*]}"
  dpkg --add-architecture i386
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${PACKAGES[@]}"
}

# apt's source download needs deb-src entries; derive them from the machine's own
# binary entries so that no mirror is named here.
ensure_deb_src() {
  if grep -rqsE '^(deb-src |Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    return 0
  fi
  need_root deb-src
  say "adding deb-src entries derived from the existing apt sources"
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    grep -qE '^Types:.*\bdeb\b' "$f" || continue
    sed -E 's/^Types:.*/Types: deb-src/' "$f" > "/etc/apt/sources.list.d/zz-src-$(basename "$f")"
  done
  if [ -f /etc/apt/sources.list ] && grep -qE '^deb ' /etc/apt/sources.list; then
    sed -nE 's/^deb /deb-src /p' /etc/apt/sources.list > /etc/apt/sources.list.d/zz-src-sources.list
  fi
  apt-get update -q
}

# The LZMA SDK's C sources, from Debian's 7zip source package, unpacked into a
# git-ignored cache. Nothing of the SDK is committed.
ensure_lzma_sdk() {
  [ -f "$SDK_DIR/C/LzmaDec.c" ] && [ -f "$SDK_DIR/VERSION" ] && return 0
  ensure_deb_src
  say "downloading the LZMA SDK (Debian source package 7zip)"
  local tmp; tmp=$(mktemp -d)
  ( cd "$tmp" && apt-get source -q --download-only -o APT::Sandbox::User=root 7zip >/dev/null )
  local orig; orig=$(ls "$tmp"/7zip_*.orig.tar.* | head -n 1)
  [ -n "$orig" ] || die "apt-get source 7zip gave no original tarball"
  local dsc; dsc=$(ls "$tmp"/7zip_*.dsc | head -n 1)
  mkdir -p "$tmp/src"
  tar -xf "$orig" -C "$tmp/src"
  local top; top=$(find "$tmp/src" -mindepth 1 -maxdepth 1 -type d | head -n 1)
  rm -rf "$SDK_DIR"; mkdir -p "$SDK_DIR"
  cp -r "$top/C" "$SDK_DIR/C"
  [ -d "$top/DOC" ] && cp -r "$top/DOC" "$SDK_DIR/DOC"
  local sdk_version
  sdk_version=$(sed -nE 's/^#define MY_VERSION_NUMBERS "([^"]+)".*/\1/p' "$SDK_DIR/C/7zVersion.h")
  {
    echo "sdk_version=$sdk_version"
    echo "debian_package=$(sed -nE 's/^Version: //p' "$dsc")"
  } > "$SDK_DIR/VERSION"
  rm -rf "$tmp"
  say "LZMA SDK $sdk_version ready"
}

setup() {
  ensure_packages
  ensure_lzma_sdk
}

configure_and_build() {
  local preset=$1; shift
  cmake --preset "$preset" "$@" >/dev/null
  cmake --build --preset "$preset"
}

build_all() {
  say "building host tools and tests"
  configure_and_build host
  say "building the stub and its Windows tests"
  configure_and_build windows -DCORVANE_HOST_TOOLS_DIR="$BUILD/host/tools"
}

# A Wine prefix of the build tree's own, and a wineserver kept alive while we use it.
start_wine() {
  # No X display: the tests never wait on a window somebody would have to close.
  unset DISPLAY WAYLAND_DISPLAY
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    say "creating the Wine prefix (about 20 s, once)"
    WINEARCH=win64 wineboot -i >/dev/null 2>&1 || true
    wineserver -w
  fi
  # Keeps one server alive for the whole run (it may already be running).
  wineserver -p 2>/dev/null || true
  trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
  # The first program of a session starts Wine's background services, which
  # would inherit its output pipes and keep a test runner waiting for their end:
  # start them here, detached from every pipe.
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

cmd_test() {
  setup
  build_all
  start_wine
  say "host tests"
  ctest --preset host
  say "Windows tests under Wine"
  ctest --preset windows
}

cmd_demo() {
  setup
  build_all
  start_wine
  "$ROOT/demo/run_demo.sh" "$BUILD/windows"
}

cmd_stub() {
  local payload="" out=""
  while [ $# -gt 0 ]; do
    case "$1" in
      --payload) payload=${2:-}; shift 2 || die "--payload needs a folder";;
      --out) out=${2:-}; shift 2 || die "--out needs a file name";;
      *) die "stub: unknown option '$1' (use --payload DIR --out FILE.exe)";;
    esac
  done
  [ -n "$payload" ] || payload="$ROOT/demo/payload"
  [ -n "$out" ] || die "stub: --out FILE.exe is required"
  [ -d "$payload" ] || [ -f "$payload" ] || die "stub: payload '$payload' is neither a folder nor a tar file"
  payload=$(cd "$(dirname "$payload")" && pwd)/$(basename "$payload")
  setup
  build_all
  say "building a stub with payload $payload"
  cmake -S "$ROOT" -B "$BUILD/custom-stub" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCORVANE_LZMA_SDK_DIR="$SDK_DIR/C" -DCORVANE_HOST_TOOLS_DIR="$BUILD/host/tools" \
    -DCORVANE_STUB_ONLY=ON -DCORVANE_PAYLOAD="$payload" >/dev/null
  cmake --build "$BUILD/custom-stub" --target CorvaneUpdateSetup
  mkdir -p "$(dirname "$out")"
  cp "$BUILD/custom-stub/app/CorvaneUpdateSetup.exe" "$out"
  say "wrote $out ($(stat -c %s "$out") bytes)"
}

cmd_bench() {
  setup
  build_all
  start_wine
  "$ROOT/bench/run_bench.sh" "$BUILD" "$@"
}

case "${1:-}" in
  setup) setup;;
  build) setup; build_all;;
  test) shift; cmd_test "$@";;
  demo) shift; cmd_demo "$@";;
  stub) shift; cmd_stub "$@";;
  bench) shift; cmd_bench "$@";;
  *) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 2;;
esac
