#!/usr/bin/env bash
# ./build.sh stub as a release engineer runs it, in two fresh build folders:
# a stub build compiles no test; a payload file rewritten with its old size
# and time still reaches the next stub; an unchanged payload is not packed
# again; the same sources give byte-identical stubs in any folder, time
# stamped from SOURCE_DATE_EPOCH when it is set; and the signed stub passes a
# verifier that hashes the image by its section table. The 64-bit stub
# (--arch x64) the same way, in folders of its own.
#   stub_builds_test.sh SOURCE_DIR HOST_TOOLS_DIR
set -euo pipefail
root=$1
tools=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { printf 'FAIL: %s\n' "$*" >&2; exit 1; }
# build NAME TREE [OPTION...]: a stub from the payload into $work/NAME.exe,
# its output in $work/NAME.log.
build() {
  local name=$1 tree=$2; shift 2
  "$root/build.sh" stub --payload "$work/payload" --out "$work/$name.exe" \
    --build-dir "$work/$tree" "$@" >"$work/$name.log" 2>&1 ||
    { cat "$work/$name.log" >&2; fail "./build.sh stub ($name) failed"; }
}
time_stamp() {
  od -An -tu4 -j $(( $(od -An -tu4 -j 60 -N 4 "$1") + 8 )) -N 4 "$1" | tr -d ' '
}
# The PE header's machine field, as hex bytes in file order.
machine() {
  od -An -tx1 -j $(( $(od -An -tu4 -j 60 -N 4 "$1") + 4 )) -N 2 "$1" | tr -d ' '
}
old_times() { touch -d '2001-02-03 04:05:06' "$work/payload"/* "$work/payload"; }

mkdir "$work/payload"
printf 'MZ the program the stub starts\n' >"$work/payload/setup.exe"
head -c 300000 /dev/urandom >"$work/payload/data.bin"
old_times

unset SOURCE_DATE_EPOCH
build first tree-one
if grep -E '(Building|Linking) [A-Z]+ .*(tests/|gtest|gmock)' "$work/first.log"; then
  fail "a stub build compiled tests"
fi

# Rewritten in place: same size, same times, other bytes.
head -c 300000 /dev/urandom >"$work/payload/data.bin"
old_times
build second tree-one
cmp -s "$work/first.exe" "$work/second.exe" && fail "the stub kept the payload's old bytes"
"$tools/corvane-pack" extract "$work/tree-one/app/payload.bin" -C "$work/unpacked" >/dev/null
cmp "$work/unpacked/data.bin" "$work/payload/data.bin" || fail "the stub's payload is not the folder's"

build third tree-one
grep -q "is up to date" "$work/third.log" || fail "an unchanged payload was packed again"
grep -q "Linking" "$work/third.log" && fail "an unchanged payload relinked the stub"
cmp "$work/second.exe" "$work/third.exe" || fail "an unchanged payload gave other bytes"

# Another folder, with a longer path: the same bytes.
build fourth "other tree/one level deeper"
cmp "$work/second.exe" "$work/fourth.exe" || fail "two build folders gave different stubs"
[ "$(time_stamp "$work/fourth.exe")" = 0 ] || fail "the stub carries the time of its build"

SOURCE_DATE_EPOCH=1700000000 build fifth tree-one
[ "$(time_stamp "$work/fifth.exe")" = 1700000000 ] || fail "SOURCE_DATE_EPOCH is not the stub's time stamp"
SOURCE_DATE_EPOCH=1700000000 build sixth "other tree/one level deeper"
cmp "$work/fifth.exe" "$work/sixth.exe" || fail "two build folders gave different stubs with SOURCE_DATE_EPOCH"

[ "$(machine "$work/second.exe")" = 4c01 ] || fail "the default stub is not the 32-bit one"

# The 64-bit stub (--arch x64): a stub build of its own, no test compiled,
# the same bytes from another folder.
build x64 tree-x64 --arch x64
[ "$(machine "$work/x64.exe")" = 6486 ] || fail "--arch x64 gave no 64-bit (AMD64) stub"
if grep -E '(Building|Linking) [A-Z]+ .*(tests/|gtest|gmock)' "$work/x64.log"; then
  fail "a 64-bit stub build compiled tests"
fi
build x64-again "other tree/x64" --arch x64
cmp "$work/x64.exe" "$work/x64-again.exe" || fail "two build folders gave different 64-bit stubs"

# Signed, the stub passes both verifiers: osslsigncode hashes the file from
# end to end, sbverify by the section table.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
  -subj "/CN=stub build test" -days 2 -addext extendedKeyUsage=codeSigning 2>/dev/null
osslsigncode sign -h sha256 -certs "$work/cert.pem" -key "$work/key.pem" \
  -in "$work/second.exe" -out "$work/signed.exe" >/dev/null
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed.exe" >"$work/verify.txt" 2>&1 ||
  { cat "$work/verify.txt" >&2; fail "osslsigncode rejects the signed stub"; }
sbverify --cert "$work/cert.pem" "$work/signed.exe" >"$work/sbverify.txt" 2>&1 ||
  { cat "$work/sbverify.txt" >&2; fail "sbverify rejects the signed stub"; }
osslsigncode sign -h sha256 -certs "$work/cert.pem" -key "$work/key.pem" \
  -in "$work/x64.exe" -out "$work/signed-x64.exe" >/dev/null
sbverify --cert "$work/cert.pem" "$work/signed-x64.exe" >"$work/sbverify-x64.txt" 2>&1 ||
  { cat "$work/sbverify-x64.txt" >&2; fail "sbverify rejects the signed 64-bit stub"; }
echo "stub builds: fresh, byte-identical, well-formed, 32-bit and 64-bit"
