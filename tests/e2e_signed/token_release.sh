#!/usr/bin/env bash
# Release stubs signed with a key that never leaves a token, for the
# end-to-end tests to run under Wine: a SoftHSM2 token in a temporary folder
# (its own SOFTHSM2_CONF), an RSA key generated on it, its certificate issued
# by a test root, and corvane-release through the token in one step and in
# two (--prepare, osslsigncode over the data as on a signing machine,
# --attach). The PINs live in the environment (pkcs11-tool's env:NAME,
# corvane-release --pin-env) and a pipe (osslsigncode -readpass -), never on
# a command line.
#
#   token_release.sh CORVANE_RELEASE SETUP.exe OUT_DIR TAG [ARCH]
# writes OUT_DIR/token-one-step.exe, OUT_DIR/token-two-step.exe and the root
# they verify against, OUT_DIR/root.pem. ARCH (x86, the default, or x64) is
# the stub released: the processor of the tests that run them, and of SETUP.exe.
set -euo pipefail

RELEASE=$1 SETUP=$2 OUT=$3 TAG=$4 ARCH=${5:-x86}
MODULE=
for candidate in /usr/lib/softhsm/libsofthsm2.so /usr/lib/*/softhsm/libsofthsm2.so; do
  [ -f "$candidate" ] && { MODULE=$candidate; break; }
done
[ -n "$MODULE" ] || { echo "token_release.sh: SoftHSM2's module is not installed" >&2; exit 1; }

rm -rf "$OUT"
mkdir -p "$OUT/payload"
cp "$SETUP" "$OUT/payload/setup.exe"
TOKEN=$(mktemp -d -t corvane-token-XXXXXX)
trap 'rm -rf "$TOKEN"' EXIT
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' \
  "$TOKEN" > "$TOKEN/softhsm2.conf"
export SOFTHSM2_CONF="$TOKEN/softhsm2.conf"
CORVANE_E2E_TOKEN_PIN=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
CORVANE_E2E_TOKEN_SO_PIN=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
export CORVANE_E2E_TOKEN_PIN CORVANE_E2E_TOKEN_SO_PIN
KEY='pkcs11:token=corvane-e2e;object=signer;type=private'

p11() { pkcs11-tool --module "$MODULE" "$@" >/dev/null; }
p11 --init-token --slot-index 0 --label corvane-e2e --so-pin env:CORVANE_E2E_TOKEN_SO_PIN
p11 --token-label corvane-e2e --login --login-type so --so-pin env:CORVANE_E2E_TOKEN_SO_PIN \
  --init-pin --pin env:CORVANE_E2E_TOKEN_PIN
p11 --token-label corvane-e2e --login --pin env:CORVANE_E2E_TOKEN_PIN --keypairgen \
  --key-type rsa:2048 --label signer --id 01 --usage-sign --sensitive
p11 --token-label corvane-e2e --login --pin env:CORVANE_E2E_TOKEN_PIN --read-object \
  --type pubkey --id 01 -o "$TOKEN/public.der"

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 30 -subj '/CN=Corvane token e2e root' \
  -keyout "$TOKEN/root-key.pem" -out "$OUT/root.pem" 2>/dev/null
openssl pkey -pubin -inform DER -in "$TOKEN/public.der" -out "$TOKEN/public.pem"
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
  > "$TOKEN/signer.ext"
openssl x509 -new -subj '/CN=Corvane token e2e signer' -force_pubkey "$TOKEN/public.pem" \
  -CA "$OUT/root.pem" -CAkey "$TOKEN/root-key.pem" -days 30 -sha256 \
  -extfile "$TOKEN/signer.ext" -out "$TOKEN/signer.pem"
openssl x509 -in "$TOKEN/signer.pem" -outform DER -out "$TOKEN/signer.der"
p11 --token-label corvane-e2e --login --pin env:CORVANE_E2E_TOKEN_PIN --write-object \
  "$TOKEN/signer.der" --type cert --label signer --id 01

# One step, the certificate read from the token.
"$RELEASE" --payload "$OUT/payload" --tag "$TAG" --out "$OUT/token-one-step.exe" --arch "$ARCH" \
  --pkcs11-module "$MODULE" --key "$KEY" --pin-env CORVANE_E2E_TOKEN_PIN --ca "$OUT/root.pem"

# Two steps: what the signing machine runs is in the prepared manifest.
"$RELEASE" --prepare "$OUT/prepared" --payload "$OUT/payload" --arch "$ARCH"
printf '%s' "$CORVANE_E2E_TOKEN_PIN" |
  osslsigncode sign -pkcs11module "$MODULE" -key "$KEY" -certs "$TOKEN/signer.pem" -readpass - \
    -h sha256 -n CorvaneUpdateSetup -in "$OUT/prepared/data-sha256.der" \
    -out "$OUT/signature-sha256.der" >/dev/null
"$RELEASE" --attach "$OUT/signature-sha256.der" --prepared "$OUT/prepared" --tag "$TAG" \
  --out "$OUT/token-two-step.exe" --ca "$OUT/root.pem"
