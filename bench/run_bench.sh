#!/usr/bin/env bash
# The whole-run benchmark of CorvaneUpdateSetup.exe. ./build.sh bench builds the
# host and both Windows presets, starts the wineserver and calls
#
#   bench/run_bench.sh BUILD [--quick] [--mb M] [--files N] [--runs R]
#                            [--variants NAME,...] [--fresh]
#
#   --quick          a small payload (20 MB in 12 files) for a fast check
#   --mb, --files    size and file count of the payload (default 175 MB, 73 files)
#   --runs           runs per measurement; the median is reported (default 3)
#   --variants       decoder flag sets to build and time (default: all, see below)
#   --fresh          generate, pack and train again even when nothing changed
#
# It generates a payload folder shaped like the shipped one (mostly random bytes,
# some real i386 code, the demo child first as setup.exe), packs it, builds the
# stub and payload-bench.exe around it once per set of decoder flags (each in its
# own build folder under BUILD/bench), and measures under Wine: the payload path
# in process, the stub's whole run and peak memory, its size without payload,
# a bare in-memory decode of the same payload (the floor), and natively 7zz
# extracting the same files from an equivalent archive and 7zz's LZMA layer
# alone on the payload itself; the whole runs, the floor, the stub's LZMA layer
# and 7zz's are taken in the same interleaved rounds. The same rounds measure
# the 64-bit stub natively (the windows-x64 preset's build, current decoder
# flags, in BUILD/bench/win64-NAME) against its own bare decode and 7zz's LZMA
# layer, on a payload of the same files whose setup.exe is the 64-bit demo
# child: a 32-bit child would start under the emulator. Every figure goes to
# BUILD/bench/measurements.txt (measurements-quick.txt for --quick), from
# which corvane-bench-stats run-report writes the report: printed as Markdown
# and written to BUILD/bench/results.md (results-quick.md).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"

[ $# -ge 1 ] || die "usage: run_bench.sh BUILD [--quick] [--mb M] [--files N] [--runs R] [--variants LIST] [--fresh]"
BUILD=$(cd "$1" && pwd); shift

MB=175 FILES=73 RUNS=3 FRESH=0 QUICK=0 VARIANT_LIST="" CODE_PERCENT=5 SEED=20240917
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) QUICK=1; MB=20; FILES=12; shift;;
    --mb) MB=${2:?--mb needs a number}; shift 2;;
    --files) FILES=${2:?--files needs a number}; shift 2;;
    --runs) RUNS=${2:?--runs needs a number}; shift 2;;
    --variants) VARIANT_LIST=${2:?--variants needs a list}; shift 2;;
    --fresh) FRESH=1; shift;;
    *) die "unknown option '$1'";;
  esac
done

# Decoder flag sets: name|flags|pgo. All but one keep to what runs on any i686
# processor (the build's -march=i686, no SSE2). Z7_LZMA_PROB32 is the SDK's
# switch to 32-bit probabilities (the probability state grows from 16 to 32 KB
# with lc 3, for fewer 16-bit loads and stores). The "pgo" ones are built twice:
# instrumented, run once on a smaller training payload of another seed, then
# rebuilt with the profile. "O2-sse2" is the exception: the decoder built for
# processors with SSE2, which the stub could only use by picking it at run
# time (IsProcessorFeaturePresent), so it would have to win clearly to be kept.
VARIANTS=(
  "O2|-O2|"
  "O3|-O3|"
  "O2-omit-fp|-O2 -fomit-frame-pointer|"
  "O3-unroll|-O3 -funroll-loops|"
  "O2-prob32|-O2 -DZ7_LZMA_PROB32|"
  "O2-sse2|-O2 -march=pentium4 -mfpmath=sse|"
  "O2-pgo|-O2|pgo"
  "O3-pgo|-O3|pgo"
)

HOST="$BUILD/host"
WINDOWS="$BUILD/windows"
WINDOWS64="$BUILD/windows-x64"
OUT="$BUILD/bench"
GENERATOR="$HOST/bench/corvane-bench-payload"
HOST_BENCH="$HOST/bench/payload-bench-host"
PACKER="$HOST/tools/corvane-pack"
STATS="$HOST/bench/corvane-bench-stats"
CHILD="$WINDOWS/demo/setup.exe"
CHILD64="$WINDOWS64/demo/setup.exe"
# Wine's 64-bit loader: 64-bit programs run natively (`wine` is the 32-bit one).
WINE64=${WINE64_LOADER:-/usr/lib/wine/wine64}
export WINEPREFIX="${WINEPREFIX:-$BUILD/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

require_built "build both presets first (./build.sh bench does)" \
  "$GENERATOR" "$HOST_BENCH" "$PACKER" "$STATS" "$CHILD" "$CHILD64" "$WINE64"
require_installed 7zz
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$WINDOWS/CMakeCache.txt" 2>/dev/null; }
SDK_DIR=$(cache_value CORVANE_LZMA_SDK_DIR)
[ -f "$SDK_DIR/LzmaDec.c" ] || die "no LZMA SDK in the Windows build's cache; build the windows preset first"
CURRENT_FLAGS=$(cache_value CORVANE_LZMA_DECODER_FLAGS)
CURRENT_FLAGS=${CURRENT_FLAGS:--O2}

# The current default must be among the variants, to compare the others with.
current_listed=0
for v in "${VARIANTS[@]}"; do
  IFS='|' read -r _ flags pgo <<<"$v"
  [ "$flags" = "$CURRENT_FLAGS" ] && [ -z "$pgo" ] && current_listed=1
done
[ $current_listed = 1 ] || VARIANTS=("current|$CURRENT_FLAGS|" "${VARIANTS[@]}")
if [ -n "$VARIANT_LIST" ]; then
  selected=()
  for v in "${VARIANTS[@]}"; do
    IFS='|' read -r name flags pgo <<<"$v"
    if [[ ",$VARIANT_LIST," == *",$name,"* ]] || { [ "$flags" = "$CURRENT_FLAGS" ] && [ -z "$pgo" ]; }; then
      selected+=("$v")
    fi
  done
  VARIANTS=("${selected[@]}")
fi

mkdir -p "$OUT"
WORK="$OUT/work"
rm -rf "$WORK"; mkdir -p "$WORK"

now_ns() { date +%s%N; }
ms_since() { echo $(( ($(now_ns) - $1) / 1000000 )); }
# The value of `key` in key=value lines on stdin.
value_of() { tr -d '\r' | sed -n "s/^$1=//p" | head -n 1; }
fingerprint() { cat "$@" | sha256sum | cut -c1-16; }
winpath() { winepath -w "$1" 2>/dev/null; }
# Little-endian unsigned 32-bit value at byte `offset` of `file`.
le32() { od -An -tu4 -j "$2" -N4 --endian=little "$1" | tr -d ' '; }

# The i386 PE files of the installed 32-bit Wine: real x86 code for the payload.
pe_dir() {
  local dll
  dll=$(dpkg -L libwine:i386 2>/dev/null | grep -m1 '/i386-windows/kernel32\.dll$' || true)
  [ -n "$dll" ] && dirname "$dll"
}
PE_DIR=${CORVANE_BENCH_PE_DIR:-$(pe_dir || true)}
[ -n "$PE_DIR" ] || say "no 32-bit Wine DLLs found (set CORVANE_BENCH_PE_DIR): the payload will hold no x86 code"

# generate_payload DIR MB FILES SEED [CHILD]: the payload folder DIR/files and
# DIR/payload.bin, with CHILD (default the 32-bit demo child) as setup.exe,
# redone only when the generator, the child, the packer or the parameters changed.
# Sets PACK_MS (from the run that packed it).
generate_payload() {
  local dir=$1 mb=$2 files=$3 seed=$4 child=${5:-$CHILD}
  local key
  key=$(printf '%s %s %s %s %s %s' "$mb" "$files" "$seed" "$CODE_PERCENT" "$PE_DIR" \
          "$(fingerprint "$GENERATOR" "$child" "$PACKER")" | sha256sum | cut -c1-16)
  if [ $FRESH = 1 ] || [ "$(cat "$dir/key" 2>/dev/null)" != "$key" ] || [ ! -f "$dir/payload.bin" ]; then
    rm -rf "$dir"; mkdir -p "$dir"
    say "generating $mb MB in $files files ($dir/files)"
    "$GENERATOR" --out "$dir/files" --child "$child" ${PE_DIR:+--pe-dir "$PE_DIR"} --mb "$mb" \
      --files "$files" --code-percent "$CODE_PERCENT" --seed "$seed" >&2
    say "packing it with corvane-pack"
    local start; start=$(now_ns)
    "$PACKER" pack "$dir/files" -o "$dir/payload.bin" --launch setup.exe >&2
    ms_since "$start" > "$dir/pack_ms"
    date -u '+%Y-%m-%d %H:%M UTC' > "$dir/packed_at"
    echo "$key" > "$dir/key"
  fi
  PACK_MS=$(cat "$dir/pack_ms")
}

# The same files in a 7z archive: BCJ2 with its main stream in LZMA with an
# 8 MiB dictionary, like the payload; records how it was built.
make_7z() {
  local dir=$1
  local key; key=$(printf '%s %s' "$(cat "$dir/key")" "$(7zz | sed -n 2p)" | sha256sum | cut -c1-16)
  if [ $FRESH = 1 ] || [ "$(cat "$dir/7z_key" 2>/dev/null)" != "$key" ] || [ ! -f "$dir/files.7z" ]; then
    say "building the 7z archive with 7zz"
    rm -f "$dir/files.7z"
    local start; start=$(now_ns)
    (cd "$dir/files" && 7zz a -t7z -m0=BCJ2 -m1=LZMA:d=8m -m2=LZMA:d=1m -m3=LZMA:d=1m \
       -mb0:1 -mb0s1:2 -mb0s2:3 "$dir/files.7z" -- * >/dev/null)
    ms_since "$start" > "$dir/7z_ms"
    echo "$key" > "$dir/7z_key"
  fi
  record 7zz-archive "pack_ms=$(cat "$dir/7z_ms")" \
    "method=$(7zz l -slt "$dir/files.7z" | sed -n 's/^Method = //p' | sort | uniq -c | sort -rn |
              head -n 1 | sed 's/^ *[0-9]* //')" \
    "blocks=$(7zz l -slt "$dir/files.7z" | sed -n 's/^Blocks = //p' | head -n 1)"
}

# configure_variant DIR FLAGS LINKER_FLAGS [PRESET PAYLOAD]: a build folder of
# the Windows preset (or PRESET) with these decoder flags, its stub around
# the payload (or PAYLOAD).
configure_variant() {
  local dir=$1 flags=$2 linker=$3 preset=${4:-windows} payload=${5:-$PAYLOAD_BIN}
  (cd "$ROOT" && cmake --preset "$preset" -B "$dir" \
    -DCORVANE_LZMA_SDK_DIR="$SDK_DIR" -DCORVANE_HOST_TOOLS_DIR="$HOST/tools" \
    -DCORVANE_LZMA_DECODER_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$linker" \
    -DCORVANE_BENCH_PAYLOAD="$payload") > "$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log" >&2; die "configuring $dir failed"; }
}

build_targets() {
  local dir=$1; shift
  cmake --build "$dir" -j2 --target "$@" > "$dir.build.log" 2>&1 ||
    { tail -n 40 "$dir.build.log" >&2; die "building $* in $dir failed"; }
}

# Recompiles the decoder's sources of DIR as the build did, but with warnings on
# and a missing profile an error: the build itself silences the SDK's warnings.
check_profile_used() {
  local dir=$1 command
  local found=0
  : > "$dir.profile-check.log"
  while IFS= read -r command; do
    case "$command" in *" -c "*lzma_sdk_decoder.dir*|*lzma_sdk_decoder.dir*" -c "*) ;; *) continue;; esac
    command=${command// -w / }
    (cd "$dir" && eval "$command -Werror=missing-profile") >> "$dir.profile-check.log" 2>&1 ||
      { cat "$dir.profile-check.log" >&2; die "the profile-guided build in $dir did not find its profile"; }
    found=$((found + 1))
  done < <(ninja -C "$dir" -t commands lzma_sdk_decoder)
  [ $found -gt 0 ] || die "no decoder compile commands found in $dir"
}

# prepare_variant NAME FLAGS PGO: builds payload-bench.exe for the variant (and,
# for a profile-guided one, its instrumented twin and the training run).
prepare_variant() {
  local name=$1 flags=$2 pgo=$3
  local dir="$OUT/win-$name"
  if [ -z "$pgo" ]; then
    configure_variant "$dir" "$flags" ""
    build_targets "$dir" payload_bench bench_run bare_decode
    return
  fi
  local gen="$OUT/win-$name-instrumented" profile="$OUT/pgo-profile/$name"
  configure_variant "$gen" "$flags -fprofile-generate=$profile -fprofile-prefix-path=$gen" \
    "-fprofile-generate"
  build_targets "$gen" payload_bench
  if [ $FRESH = 1 ] || [ ! -f "$profile/trained" ] || [ "$gen/bench/payload-bench.exe" -nt "$profile/trained" ] ||
     [ "$TRAIN_DIR/payload.bin" -nt "$profile/trained" ]; then
    say "training $name on the $TRAIN_MB MB training payload"
    rm -rf "$profile"; mkdir -p "$profile"
    # The profile path is a Unix path; it resolves on Wine's Z: drive, the
    # current drive when started from here.
    (cd "$OUT" && wine "$gen/bench/payload-bench.exe" "$(winpath "$TRAIN_DIR/payload.bin")" \
       "$(winpath "$WORK")" >/dev/null) || die "the training run of $name failed"
    [ -n "$(find "$profile" -name '*.gcda' -print -quit)" ] || die "the training run wrote no profile"
    touch "$profile/trained"
    # Ninja does not know the profile: make it compile the decoder again.
    find "$dir" -path '*lzma_sdk_decoder.dir*' -name '*.obj' -delete 2>/dev/null || true
  fi
  configure_variant "$dir" "$flags -fprofile-use=$profile -fprofile-prefix-path=$dir" ""
  build_targets "$dir" payload_bench bench_run bare_decode
  check_profile_used "$dir"
}

# ---------------------------------------------------------------------------
if [ $QUICK = 1 ]; then
  REPORT="$OUT/results-quick.md" MEASUREMENTS="$OUT/measurements-quick.txt"
else
  REPORT="$OUT/results.md" MEASUREMENTS="$OUT/measurements.txt"
fi
: > "$MEASUREMENTS"
DATA_DIR="$OUT/data/payload-${MB}mb-${FILES}files"
# A fifth of the payload's whole megabytes, from 5 to 30.
whole_mb=${MB%%.*}
TRAIN_MB=$(( ${whole_mb:-0} / 5 ))
TRAIN_MB=$(( TRAIN_MB < 5 ? 5 : TRAIN_MB > 30 ? 30 : TRAIN_MB ))
TRAIN_FILES=$(( FILES / 3 > 4 ? FILES / 3 : 4 ))
TRAIN_DIR="$OUT/data/training-${TRAIN_MB}mb-${TRAIN_FILES}files"
record machine "load_at_start=$(cut -d' ' -f1-3 /proc/loadavg)"
record run "runs=$RUNS" "train_mb=$TRAIN_MB" "variant_folder=$(basename "$OUT")/win-NAME"

generate_payload "$DATA_DIR" "$MB" "$FILES" "$SEED"
PAYLOAD_BIN="$DATA_DIR/payload.bin"
record payload "pack_ms=$PACK_MS" "packed_at=$(cat "$DATA_DIR/packed_at")"
make_7z "$DATA_DIR"
has_pgo=0
for v in "${VARIANTS[@]}"; do [[ "$v" == *"|pgo" ]] && has_pgo=1; done
[ $has_pgo = 1 ] && generate_payload "$TRAIN_DIR" "$TRAIN_MB" "$TRAIN_FILES" $((SEED + 1))

record payload "bytes=$(stat -c %s "$PAYLOAD_BIN")" \
  "dictionary_bytes=$(le32 "$PAYLOAD_BIN" 1)" "block_bytes=$(le32 "$PAYLOAD_BIN" 5)" \
  "folder_bytes=$(du -cb "$DATA_DIR/files"/* | tail -n 1 | cut -f1)" \
  "code_bytes=$(cat "$DATA_DIR/files"/*.dll 2>/dev/null | wc -c)"

# The 64-bit stub's payload: the same generator, size, files and seed, the
# 64-bit demo child as setup.exe.
DATA64_DIR="$OUT/data/payload-${MB}mb-${FILES}files-x64"
generate_payload "$DATA64_DIR" "$MB" "$FILES" "$SEED" "$CHILD64"
PAYLOAD64_BIN="$DATA64_DIR/payload.bin"
record x64/payload "bytes=$(stat -c %s "$PAYLOAD64_BIN")" \
  "dictionary_bytes=$(le32 "$PAYLOAD64_BIN" 1)" "block_bytes=$(le32 "$PAYLOAD64_BIN" 5)"

# The decoder's object code, to tell flag sets that change nothing: such a
# pair's difference is the benchmark's own noise.
decoder_code() {
  find "$1" -path '*lzma_sdk_decoder.dir*' -name '*.obj' | sort | xargs cat | sha256sum | cut -c1-16
}

declare -A FLAGS_OF DIR_OF CODE_OF
NAMES=()
for v in "${VARIANTS[@]}"; do
  IFS='|' read -r name flags pgo <<<"$v"
  say "building variant $name (decoder flags: $flags${pgo:+, profile-guided})"
  prepare_variant "$name" "$flags" "$pgo"
  FLAGS_OF[$name]="$flags${pgo:+ + PGO}"
  DIR_OF[$name]="$OUT/win-$name"
  CODE_OF[$name]=$(decoder_code "${DIR_OF[$name]}")
  record "variant/$name" "flags=${FLAGS_OF[$name]}"
  for earlier in "${NAMES[@]}"; do
    if [ "${CODE_OF[$earlier]}" = "${CODE_OF[$name]}" ]; then
      record "variant/$name" "same_code_as=$earlier"
      break
    fi
  done
  NAMES+=("$name")
done
CURRENT=""
for name in "${NAMES[@]}"; do [ "${FLAGS_OF[$name]}" = "$CURRENT_FLAGS" ] && CURRENT=$name && break; done
[ -n "$CURRENT" ] || CURRENT=${NAMES[0]}
record run "current=$CURRENT"

W_PAYLOAD=$(winpath "$PAYLOAD_BIN")
W_WORK=$(winpath "$WORK")

# The payload path in process, variants interleaved so that a slow spell of the
# machine does not land on one of them.
for run in $(seq "$RUNS"); do
  for name in "${NAMES[@]}"; do
    say "payload-bench, variant $name, run $run of $RUNS"
    wine "${DIR_OF[$name]}/bench/payload-bench.exe" "$W_PAYLOAD" "$W_WORK" |
      record_output "payload-bench/$name" || die "payload-bench failed for $name"
  done
  say "payload-bench-host (native x86-64), run $run of $RUNS"
  "$HOST_BENCH" "$PAYLOAD_BIN" | record_output payload-bench-host || die "payload-bench-host failed"
done
HOST_FLAGS=$(sed -n 's/^CORVANE_LZMA_DECODER_FLAGS:[A-Z]*=//p' "$HOST/CMakeCache.txt" 2>/dev/null)
record run "host_flags=${HOST_FLAGS:--O2}"

# Variants are ranked by the processor time of the two decoding stages (what
# the flags change): unlike wall time, it does not grow while other processes
# hold the machine's processors.
FASTEST=$("$STATS" run-fastest "$MEASUREMENTS")

# Whole runs: the stub of the current flags and of the fastest, and 7zz.
STUB_NAMES=("$CURRENT")
[ "$FASTEST" != "$CURRENT" ] && STUB_NAMES+=("$FASTEST")
for name in "${STUB_NAMES[@]}"; do
  say "building the stub of variant $name"
  build_targets "${DIR_OF[$name]}" bench_stub bench_stub_without_payload
done
CURRENT_BENCH="${DIR_OF[$CURRENT]}/bench"
record stub "bytes_without_payload=$(stat -c %s "$CURRENT_BENCH/bench_stub_without_payload.exe")" \
  "bytes_with_payload=$(stat -c %s "$CURRENT_BENCH/CorvaneUpdateSetup.exe")"

W_ONE_BYTE=$(winpath "$CURRENT_BENCH/one_byte_payload.bin")

# The 64-bit stub and its programs, built as the windows-x64 preset builds
# them, with the current decoder flags.
DIR64="$OUT/win64-$CURRENT"
say "building the 64-bit stub and its programs (decoder flags: $CURRENT_FLAGS)"
configure_variant "$DIR64" "$CURRENT_FLAGS" "" windows-x64 "$PAYLOAD64_BIN"
build_targets "$DIR64" payload_bench bench_run bare_decode bench_stub bench_stub_without_payload
BENCH64="$DIR64/bench"
record x64/run "flags=$CURRENT_FLAGS" "variant_folder=$(basename "$OUT")/$(basename "$DIR64")"
record x64/stub "bytes_without_payload=$(stat -c %s "$BENCH64/bench_stub_without_payload.exe")" \
  "bytes_with_payload=$(stat -c %s "$BENCH64/CorvaneUpdateSetup.exe")"
W_PAYLOAD64=$(winpath "$PAYLOAD64_BIN")
RUNNER64="$BENCH64/bench-run.exe"

# measure64 SERIES EXPECTED_EXIT_CODE PROGRAM [ARGUMENT]: one natively timed
# run of a 64-bit program, recorded under x64/SERIES.
measure64() {
  local series=$1 expected=$2 program=$3; shift 3
  local result
  result=$("$WINE64" "$RUNNER64" "$(winpath "$program")" "$@" | tr -d '\r')
  [ "$(value_of exit_code <<<"$result")" = "$expected" ] ||
    die "64-bit $series ended with exit code $(value_of exit_code <<<"$result")"
  record_output "x64/$series" <<<"$result"
}
for run in $(seq "$RUNS"); do
  # What each program costs before and after its payload: the same stub with a
  # one-byte payload, which stops at decoding (exit code 0xFFFFFFFF) after
  # start-up, COM and everything else it loads, and the bare decoder refusing a
  # one-byte file. Their working sets are also Wine's own share of the memory.
  say "start-up without payload: the stub and the bare decoder, run $run of $RUNS"
  result=$(wine "$CURRENT_BENCH/bench-run.exe" "$(winpath "$CURRENT_BENCH/bench_stub_without_payload.exe")" | tr -d '\r')
  [ "$(value_of exit_code <<<"$result")" = "0xFFFFFFFF" ] ||
    die "the stub without payload ended with exit code $(value_of exit_code <<<"$result")"
  record_output whole-run-without-payload <<<"$result"
  result=$(wine "$CURRENT_BENCH/bench-run.exe" "$(winpath "$CURRENT_BENCH/bare-decode.exe")" "$W_ONE_BYTE" | tr -d '\r')
  [ "$(value_of exit_code <<<"$result")" = "0x00000002" ] ||
    die "bare-decode.exe of one byte ended with exit code $(value_of exit_code <<<"$result")"
  record_output bare-decode-without-payload <<<"$result"
  # The floor: a bare in-memory decode of the same payload, interleaved with
  # the whole runs so that the machine's noise falls on both.
  say "bare in-memory decode, run $run of $RUNS"
  result=$(wine "$CURRENT_BENCH/bench-run.exe" "$(winpath "$CURRENT_BENCH/bare-decode.exe")" "$W_PAYLOAD" | tr -d '\r')
  [ "$(value_of exit_code <<<"$result")" = "0x00000000" ] ||
    die "bare-decode.exe ended with exit code $(value_of exit_code <<<"$result")"
  record_output bare-decode <<<"$result"
  # The stub's LZMA layer alone, in the same rounds as the floor and 7zz's
  # layer: the payload path in process, current flags.
  say "payload-bench of the current flags, run $run of $RUNS"
  wine "$CURRENT_BENCH/payload-bench.exe" "$W_PAYLOAD" "$W_WORK" |
    record_output payload-bench-in-rounds || die "payload-bench failed"
  for name in "${STUB_NAMES[@]}"; do
    say "whole run of the stub, variant $name, run $run of $RUNS"
    bench="${DIR_OF[$name]}/bench"
    result=$(wine "$bench/bench-run.exe" "$(winpath "$bench/CorvaneUpdateSetup.exe")" | tr -d '\r')
    [ "$(value_of exit_code <<<"$result")" = "0x00000000" ] ||
      die "the stub of $name ended with exit code $(value_of exit_code <<<"$result")"
    record_output "whole-run/$name" <<<"$result"
  done
  say "7zz x, run $run of $RUNS"
  rm -rf "$WORK/7zz"
  start=$(now_ns)
  7zz x -y -o"$WORK/7zz" "$DATA_DIR/files.7z" >/dev/null
  record 7zz-x "wall_ms=$(ms_since "$start")"
  [ "$(find "$WORK/7zz" -type f | wc -l)" = "$FILES" ] || die "7zz did not extract $FILES files"
  rm -rf "$WORK/7zz"
  # For scale: 7zz overlaps its decoders and the writing on several threads.
  say "7zz x -mmt=1, run $run of $RUNS"
  start=$(now_ns)
  7zz x -y -mmt=1 -o"$WORK/7zz" "$DATA_DIR/files.7z" >/dev/null
  record 7zz-x-one-thread "wall_ms=$(ms_since "$start")"
  rm -rf "$WORK/7zz"
  # 7zz's LZMA layer alone, on the very stream the stub decodes: the payload
  # is an LZMA-alone file, decoded to nowhere.
  say "7zz x -tlzma of payload.bin (its LZMA layer), run $run of $RUNS"
  start=$(now_ns)
  7zz x -tlzma -so "$PAYLOAD_BIN" >/dev/null
  record 7zz-lzma "wall_ms=$(ms_since "$start")"
  # The 64-bit stub natively, in the same rounds: its start-up alone, its
  # floor, its LZMA layer in process, its whole run and 7zz's LZMA layer on
  # its own payload.
  say "64-bit, natively: start-up without payload, bare decode, payload-bench, whole run, 7zz's LZMA layer, run $run of $RUNS"
  measure64 whole-run-without-payload 0xFFFFFFFF "$BENCH64/bench_stub_without_payload.exe"
  measure64 bare-decode-without-payload 0x00000002 "$BENCH64/bare-decode.exe" \
    "$(winpath "$BENCH64/one_byte_payload.bin")"
  measure64 bare-decode 0x00000000 "$BENCH64/bare-decode.exe" "$W_PAYLOAD64"
  "$WINE64" "$BENCH64/payload-bench.exe" "$W_PAYLOAD64" "$W_WORK" |
    record_output x64/payload-bench || die "the 64-bit payload-bench failed"
  measure64 whole-run 0x00000000 "$BENCH64/CorvaneUpdateSetup.exe"
  start=$(now_ns)
  7zz x -tlzma -so "$PAYLOAD64_BIN" >/dev/null
  record x64/7zz-lzma "wall_ms=$(ms_since "$start")"
done
rm -rf "$WORK"

record machine "date=$(date -u '+%Y-%m-%d %H:%M UTC')" \
  "processor=$(lscpu | sed -n 's/^Model name: *//p' | head -n 1)" "cores=$(nproc)" \
  "load_at_end=$(cut -d' ' -f1-3 /proc/loadavg)" "wine=$(wine --version)" \
  "7zz=$(7zz | sed -n 2p | sed 's/ :.*//; s/^ *//')" \
  "compiler=$(i686-w64-mingw32-gcc-posix --version | head -n 1)" \
  "compiler64=$(x86_64-w64-mingw32-gcc-posix --version | head -n 1)"
if grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386; then
  record machine "emulator=$(qemu-i386 --version | head -n 1)"
fi
"$STATS" run-report "$MEASUREMENTS" | tee "$REPORT"
say "written to $REPORT"
