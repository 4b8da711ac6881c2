#!/usr/bin/env bash
# One entry point for everything: set-up of a fresh Debian 12 machine, building,
# tests, the demo, and stubs built from a folder of your own.
#
#   ./build.sh demo                              build the stub and run it under Wine
#   ./build.sh test                              build and run every test
#   ./build.sh stub --payload DIR --out FILE.exe [--arch x86|x64] [--build-dir DIR]
#                                                a stub whose payload is DIR (32-bit,
#                                                or 64-bit with --arch x64)
#   ./build.sh release --payload DIR --tag TAG --out FILE.exe [--cert F --key F | --pfx F]
#                      [--pass P] [--ca F] [--timestamp URL [--tsa-ca F]] [--nest]
#                      [--arch x86|x64 | --arch both --out-x64 FILE.exe]
#                                                a signed (time-stamped, dual-signed),
#                                                tagged, verified stub (corvane-release),
#                                                32-bit, 64-bit or both
#   ./build.sh release ... --pkcs11-module F --key 'pkcs11:...' [--pin-file F | --pin-env N]
#                                                the same, signed with a key on a token
#   ./build.sh release --prepare DIR --payload DIR [--nest] [--arch x86|x64]
#   ./build.sh release --attach SIG --prepared DIR --tag TAG --out FILE.exe [...]
#                                                signed on another machine, in two steps
#   ./build.sh bench [--quick]                   the whole-run benchmark
#   ./build.sh bench-limit [--arch x64]          the largest payload the 32-bit (or 64-bit) stub unpacks
#   ./build.sh bench-server [--seconds S]        the tagging server against a static file
#   ./build.sh pictures                          pictures of the failure box into docs/
#   ./build.sh fuzz [SECONDS] [--runs N] [TARGET...]
#                                                run the fuzz targets (default all, 60 s each)
#   ./build.sh build                             set up, then build the host and both Windows trees
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
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 libwine:i386
  googletest 7zip dpkg-dev xz-utils tar
  xvfb xauth fonts-wine fonts-dejavu-core netpbm
  openssl libssl-dev osslsigncode sbsigntool ca-certificates
  libp11-kit-dev libengine-pkcs11-openssl softhsm2 opensc
  libboost-dev nginx curl wrk systemd
  gcc-i686-linux-gnu
)

need_root() {
  [ "$(id -u)" = 0 ] || die "set-up installs packages and must run as root (missing: $*)"
}

# True when the kernel runs 32-bit x86 programs (Wine's 32-bit loader) itself or
# through a registered emulator; some virtual machines' kernels lack the 32-bit
# system-call layer.
runs_i386_programs() {
  local tmp rc=0
  mkdir -p "$CACHE"
  tmp=$(mktemp -p "$CACHE")
  # A 93-byte 32-bit x86 Linux program that only exits with 0.
  printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\xb8\x01\x00\x00\x00\xcd\x80' > "$tmp"
  chmod +x "$tmp"
  "$tmp" >/dev/null 2>&1 || rc=1
  rm -f "$tmp"
  return $rc
}

# The ELF header bytes (and the bits of them that count) of a 32-bit x86 Linux
# program, executable or shared object, as binfmt_misc matches them.
I386_ELF_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
I386_ELF_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
QEMU_I386=/usr/bin/qemu-i386

debian_codename() {
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || die "cannot tell this Debian release's code name from /etc/os-release"
  echo "$codename"
}

# bookworm's QEMU 7.2 runs Wine only with fixes of ours and still crashes on
# structured exceptions; the emulator comes from the release's backports
# suite, derived from the machine's own entries so that no mirror is named
# here, and pinned so that nothing else is taken from it.
ensure_backports_suite() {
  local codename list=/etc/apt/sources.list.d/zz-backports.sources
  codename=$(debian_codename)
  cat > /etc/apt/preferences.d/zz-backports-emulator <<PIN
Package: *
Pin: release n=$codename-backports
Pin-Priority: 1

Package: qemu-user
Pin: release n=$codename-backports
Pin-Priority: 500
PIN
  if grep -rqsE "^[^#]*\b$codename-backports\b" /etc/apt/sources.list /etc/apt/sources.list.d/; then
    return 0
  fi
  say "adding the $codename-backports suite, for the emulator alone"
  local f
  : > "$list.tmp"
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    # Every stanza of binary packages that names the release itself.
    awk -v suite="$codename" -v RS= -v ORS='\n\n' '
      function names(field, word,   lines, parts, i, n, k) {
        n = split($0, lines, "\n")
        for (i = 1; i <= n; i++) if (index(lines[i], field ":") == 1) {
          k = split(substr(lines[i], length(field) + 2), parts, /[ \t]+/)
          while (k > 0) if (parts[k--] == word) return 1
        }
        return 0
      }
      names("Types", "deb") && names("Suites", suite) {
        out = ""; n = split($0, lines, "\n")
        for (i = 1; i <= n; i++) {
          if (index(lines[i], "Types:") == 1) lines[i] = "Types: deb"
          if (index(lines[i], "Suites:") == 1) lines[i] = "Suites: " suite "-backports"
          out = out (i > 1 ? "\n" : "") lines[i]
        }
        print out
      }' "$f" >> "$list.tmp"
  done
  if [ -f /etc/apt/sources.list ]; then
    sed -nE "s/^deb( \[[^]]*\])? ([^ ]+) $codename ([^#]*)/deb\1 \2 $codename-backports \3/p" \
      /etc/apt/sources.list > "${list%.sources}.list"
    [ -s "${list%.sources}.list" ] || rm -f "${list%.sources}.list"
  fi
  if [ -s "$list.tmp" ]; then mv "$list.tmp" "$list"; else rm -f "$list.tmp"; fi
  grep -rqsE "^[^#]*\b$codename-backports\b" /etc/apt/sources.list.d/ ||
    die "no apt entry for $codename to derive $codename-backports from"
  apt-get update -q
}

# Wine's 32-bit half is a 32-bit Linux program. Where the kernel cannot run
# those, QEMU's user-mode emulator is registered for them with binfmt_misc
# (flag F: the kernel holds the emulator open, so it also serves chroots and
# containers). Stops before any build when that cannot be done.
ensure_i386_programs_run() {
  runs_i386_programs && return 0
  [ "$(id -u)" = 0 ] ||
    die "this kernel runs no 32-bit programs, and registering QEMU's emulator for them needs root: run ./build.sh as root"
  if ! dpkg-query -W -f='${Version}' qemu-user 2>/dev/null | grep -q '^1:1[0-9]\.'; then
    ensure_backports_suite
    local codename; codename=$(debian_codename)
    say "installing QEMU's user-mode emulator from $codename-backports"
    # bookworm's qemu-user-binfmt would hold qemu-user at 7.2.
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
      "qemu-user/$codename-backports" qemu-user-binfmt- qemu-user-static-
  fi
  [ -x "$QEMU_I386" ] || die "$QEMU_I386 is missing after installing qemu-user"
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null ||
      die "this kernel runs no 32-bit programs and binfmt_misc cannot be mounted (modprobe binfmt_misc; in a container, give it /proc/sys/fs/binfmt_misc)"
  fi
  remove_i386_registrations
  say "registering $QEMU_I386 for 32-bit x86 programs"
  printf ':qemu-i386:M::%s:%s:%s:F' "$I386_ELF_MAGIC" "$I386_ELF_MASK" "$QEMU_I386" \
    > /proc/sys/fs/binfmt_misc/register ||
    die "binfmt_misc refused the registration of $QEMU_I386"
  runs_i386_programs ||
    die "a 32-bit probe program still does not run with $QEMU_I386 registered"
}

# Removes every binfmt_misc entry that claims 32-bit x86 programs, whatever its name.
remove_i386_registrations() {
  local entry magic
  magic=$(printf '%b' "$I386_ELF_MAGIC" | od -An -tx1 | tr -d ' \n')
  for entry in /proc/sys/fs/binfmt_misc/*; do
    case "${entry##*/}" in register|status) continue;; esac
    grep -qs "^magic $magic\$" "$entry" && echo -1 > "$entry"
  done
  return 0
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
  # nginx is here for the tests, which run their own on the loopback address:
  # the system service its package may have started is not left running.
  if [ -d /run/systemd/system ]; then
    systemctl disable --now nginx >/dev/null 2>&1 || true
  elif command -v service >/dev/null; then
    service nginx stop >/dev/null 2>&1 || true
  fi
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
    # Not from derived entries (the emulator's backports suite among them).
    case "${f##*/}" in zz-*) continue;; esac
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
  # The source of the installed 7zz, which the benchmark measures against,
  # whatever other suites list.
  local version; version=$(dpkg-query -W -f='${source:Version}' 7zip)
  ( cd "$tmp" && apt-get source -q --download-only -o APT::Sandbox::User=root "7zip=$version" >/dev/null )
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
  ensure_i386_programs_run
  ensure_packages
  ensure_qemu_trap_number
  ensure_lzma_sdk
}

# Under QEMU's user-mode emulation a processor fault reaches Wine with trap
# number -1, which Wine turns into an illegal-instruction exception: every
# access violation would be misreported. A small 32-bit library, preloaded into
# 32-bit Wine processes (tests/emulation/qemu_trap_number.sh), fills in the
# number the kernel would give. Built always; used only where emulated.
ensure_qemu_trap_number() {
  local source="$ROOT/tests/emulation/qemu_trap_number.c" out="$CACHE/qemu-trap-number"
  local library="$out/lib/i386-linux-gnu/qemu_trap_number.so"
  [ -f "$library" ] && [ "$library" -nt "$source" ] && return 0
  mkdir -p "$out/lib/i386-linux-gnu" "$out/lib/x86_64-linux-gnu"
  i686-linux-gnu-gcc -O2 -shared -fPIC -fno-stack-protector -o "$library" "$source" -ldl ||
    die "cannot build $library"
  gcc -shared -fPIC -o "$out/lib/x86_64-linux-gnu/qemu_trap_number.so" -x c /dev/null ||
    die "cannot build the 64-bit twin of $library"
}

# CMake and CTest read the presets from the folder they run in: the repository's
# root, wherever build.sh was started from.
configure_and_build() {
  local preset=$1; shift
  (cd "$ROOT" && cmake --preset "$preset" "$@" >/dev/null && cmake --build --preset "$preset")
}

build_all() {
  say "building host tools and tests"
  configure_and_build host
  say "building the stub and its Windows tests"
  configure_and_build windows -DCORVANE_HOST_TOOLS_DIR="$BUILD/host/tools"
}

# The 64-bit stub and the same Windows tests built for it (after build_all,
# whose host tools it packs and finishes with).
build_windows_x64() {
  say "building the 64-bit stub and its Windows tests"
  configure_and_build windows-x64 -DCORVANE_HOST_TOOLS_DIR="$BUILD/host/tools"
}

# A Wine prefix of the build tree's own, and a wineserver kept alive while we use it.
start_wine() {
  CORVANE_CACHE="$CACHE"
  . "$ROOT/tests/emulation/qemu_trap_number.sh"
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
  build_windows_x64
  start_wine
  say "host tests"
  (cd "$ROOT" && ctest --preset host)
  say "Windows tests under Wine"
  (cd "$ROOT" && ctest --preset windows)
  say "64-bit Windows tests under Wine"
  (cd "$ROOT" && ctest --preset windows-x64)
}

cmd_demo() {
  setup
  build_all
  start_wine
  "$ROOT/demo/run_demo.sh" "$BUILD/windows"
}

cmd_stub() {
  local payload="" out="" tree="" arch=x86 preset
  while [ $# -gt 0 ]; do
    case "$1" in
      --payload) payload=${2:-}; shift 2 || die "--payload needs a folder";;
      --out) out=${2:-}; shift 2 || die "--out needs a file name";;
      --build-dir) tree=${2:-}; shift 2 || die "--build-dir needs a folder";;
      --arch) arch=${2:-}; shift 2 || die "--arch needs x86 or x64";;
      *) die "stub: unknown option '$1' (use --payload DIR --out FILE.exe [--arch x86|x64] [--build-dir DIR])";;
    esac
  done
  # Each processor's stub preset (CMakePresets.json) and its own default tree.
  case "$arch" in
    x86) preset=stub; [ -n "$tree" ] || tree="$BUILD/custom-stub";;
    x64) preset=stub-x64; [ -n "$tree" ] || tree="$BUILD/custom-stub-x64";;
    *) die "stub: --arch takes x86 (the 32-bit stub) or x64 (the 64-bit one), not '$arch'";;
  esac
  [ -n "$payload" ] || die "stub: --payload DIR is required (a folder or tar file)"
  [ -n "$out" ] || die "stub: --out FILE.exe is required"
  [ -d "$payload" ] || [ -f "$payload" ] || die "stub: payload '$payload' is neither a folder nor a tar file"
  payload=$(cd "$(dirname "$payload")" && pwd)/$(basename "$payload")
  setup
  # Only what a stub is made of: the host tools (packer, tagger, image
  # finisher), then the stub's own targets in a tree without tests.
  say "building the host tools"
  (cd "$ROOT" && cmake --preset host >/dev/null &&
    cmake --build --preset host --target corvane-pack corvane-tag corvane-finish-image)
  say "building the $arch stub with payload $payload"
  # The stub preset, in the folder asked for.
  tree=$(realpath -m "$tree")
  (cd "$ROOT" && cmake --preset "$preset" -B "$tree" -DCORVANE_PAYLOAD="$payload" >/dev/null)
  cmake --build "$tree" --target CorvaneUpdateSetup
  mkdir -p "$(dirname "$out")"
  cp "$tree/app/CorvaneUpdateSetup.exe" "$out"
  say "wrote $out ($(stat -c %s "$out") bytes)"
}

# A stub ready for distributors: built from DIR, signed, tagged and verified
# by corvane-release (tools/release; its --help says how). This only builds
# the tool and hands it the options.
cmd_release() {
  setup
  mkdir -p "$BUILD"
  local log="$BUILD/release-tool-build.log" status=0
  (cd "$ROOT" && cmake --preset host >/dev/null &&
    cmake --build --preset host --target corvane-release) >"$log" 2>&1 ||
    { cat "$log" >&2; die "release: cannot build corvane-release"; }
  "$BUILD/host/tools/corvane-release" "$@" || status=$?
  # Callers of build.sh release have always seen 1 for any refusal, a
  # usage error included.
  [ "$status" != 2 ] || status=1
  exit "$status"
}

cmd_bench() {
  setup
  build_all
  build_windows_x64
  start_wine
  "$ROOT/bench/run_bench.sh" "$BUILD" "$@"
}

cmd_bench_limit() {
  setup
  build_all
  build_windows_x64
  start_wine
  "$ROOT/bench/payload_limit.sh" "$BUILD" "$@"
}

# corvane-tag serve on the loopback address: tagged downloads against the same
# server sending the stub as a static file. Host tools only.
cmd_bench_server() {
  setup
  say "building host tools"
  configure_and_build host
  "$ROOT/bench/tag_server_bench.sh" "$BUILD/host" "$@"
}

# libFuzzer runs of the targets that tests/fuzz/CMakeLists.txt lists (the byte
# parsers of the stub and of the release tools), all of them or those named,
# each for SECONDS (or until RUNS executions, if sooner) against a working copy
# of its kept corpus, tests/fuzz/corpus/<target>: what a run adds stays in
# build/fuzz/corpus/<target>, reproducers of findings go to
# build/fuzz/findings/<target>/. Prints executions, coverage and findings.
cmd_fuzz() {
  local seconds=60 runs=-1 only=()
  while [ $# -gt 0 ]; do
    case "$1" in
      --runs) [ $# -ge 2 ] || die "fuzz: --runs needs a number"; runs=$2; shift 2;;
      [0-9]*) seconds=$1; shift;;
      -*) die "fuzz: unknown option $1";;
      *) only+=("$1"); shift;;
    esac
  done
  [[ "$seconds" =~ ^[0-9]+$ ]] || die "fuzz: SECONDS must be a number"
  [[ "$runs" =~ ^(-1|[0-9]+)$ ]] || die "fuzz: RUNS must be a number"
  setup
  local p missing=()
  for p in clang libclang-rt-14-dev; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    need_root "${missing[@]}"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
  configure_and_build fuzz
  local listed=() targets=() line
  mapfile -t listed < "$BUILD/fuzz/tests/fuzz/targets.txt"
  [ ${#listed[@]} -gt 0 ] || die "fuzz: tests/fuzz/CMakeLists.txt lists no targets"
  if [ ${#only[@]} -eq 0 ]; then
    targets=("${listed[@]}")
  else
    local name
    for name in "${only[@]}"; do
      line=$(printf '%s\n' "${listed[@]}" | grep -E "^$name " || true)
      [ -n "$line" ] || die "fuzz: no target $name (tests/fuzz/CMakeLists.txt)"
      targets+=("$line")
    done
  fi
  # Allocation stacks and malloc fill take half the time of the allocating
  # targets; a finding's reproducer is rerun with full reports anyway.
  export ASAN_OPTIONS="${ASAN_OPTIONS:-malloc_context_size=0:max_malloc_fill_size=0}"

  local target max_len summary=() failed=()
  for line in "${targets[@]}"; do
    read -r target max_len <<<"$line"
    local work="$BUILD/fuzz/corpus/$target" findings="$BUILD/fuzz/findings/$target"
    local log="$BUILD/fuzz/findings/$target.log" status=0
    mkdir -p "$work" "$findings"
    # The kept seeds always take part; earlier runs' finds stay with them.
    cp "$ROOT/tests/fuzz/corpus/$target"/* "$work/"
    local before; before=$(find "$findings" -type f | wc -l)
    say "fuzzing $target for $seconds s"
    "$BUILD/fuzz/tests/fuzz/$target" -max_total_time="$seconds" -runs="$runs" \
      -max_len="$max_len" -timeout=25 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" "$work" \
      </dev/null >"$log" 2>&1 || status=$?
    # Not "runs": that is the option's value, which every later target needs too.
    local executed cov ft found
    executed=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$log" | tail -n 1)
    cov=$(sed -nE 's/^#[0-9]+.* cov: ([0-9]+).*/\1/p' "$log" | tail -n 1)
    ft=$(sed -nE 's/^#[0-9]+.* ft: ([0-9]+).*/\1/p' "$log" | tail -n 1)
    found=$(( $(find "$findings" -type f | wc -l) - before ))
    if [ "$status" -ne 0 ]; then
      [ "$found" -gt 0 ] || found=1
      failed+=("$target")
      grep -E '^(==[0-9]+==|SUMMARY|artifact_prefix|Test unit written)|runtime error' "$log" | head -n 20 >&2 || true
    fi
    summary+=("$(printf '%-24s %12s runs   cov %6s   ft %7s   findings %s' \
      "$target" "${executed:-?}" "${cov:-?}" "${ft:-?}" "$found")")
  done
  say "fuzzing results ($seconds s each at most; logs and reproducers in $BUILD/fuzz/findings)"
  printf '  %s\n' "${summary[@]}"
  [ ${#failed[@]} -eq 0 ] || die "fuzz: findings in ${failed[*]}"
}

# Pictures of the real failure box (English, German, Hebrew) under a virtual X
# server, checked and saved as docs/failure-box-*.png.
cmd_pictures() {
  setup
  build_all
  say "pictures of the failure box"
  "$ROOT/tests/pictures/take_pictures.sh" "$BUILD/windows" "$ROOT/docs"
}

case "${1:-}" in
  setup) setup;;
  build) setup; build_all; build_windows_x64;;
  test) shift; cmd_test "$@";;
  demo) shift; cmd_demo "$@";;
  stub) shift; cmd_stub "$@";;
  release) shift; cmd_release "$@";;
  bench) shift; cmd_bench "$@";;
  bench-limit) shift; cmd_bench_limit "$@";;
  bench-server) shift; cmd_bench_server "$@";;
  fuzz) shift; cmd_fuzz "$@";;
  pictures) shift; cmd_pictures "$@";;
  *) sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; exit 2;;
esac
