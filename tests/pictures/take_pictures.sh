#!/usr/bin/env bash
# Pictures of the real failure box. Runs the built stub under Wine on a virtual
# X server, on a system that Wine reports as older than Windows 2000 Service
# Pack 4, with English, German and Hebrew as the user's language; checks the
# box's title, text, buttons and the stub's exit code, and saves a PNG of each
# (the capture helper writes a BMP file, which netpbm converts).
#
#   take_pictures.sh WINDOWS_BUILD_DIR OUTPUT_DIR
#
# WINDOWS_BUILD_DIR is a Windows build folder (app/CorvaneUpdateSetup.exe,
# tests/pictures/failure_box_capture.exe). The pictures are written as
# OUTPUT_DIR/failure-box-{en,de,he}.png. Wine runs in a prefix of its own under
# WINDOWS_BUILD_DIR/pictures, with a virtual desktop so that Wine draws the
# whole box, title bar included, without a window manager.
set -euo pipefail

die() { printf 'take_pictures.sh: %s\n' "$*" >&2; exit 1; }

[ $# -eq 2 ] || die "usage: take_pictures.sh WINDOWS_BUILD_DIR OUTPUT_DIR"
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
stub="$build/app/CorvaneUpdateSetup.exe"
capture="$build/tests/pictures/failure_box_capture.exe"
[ -f "$stub" ] || die "no stub at $stub"
[ -f "$capture" ] || die "no capture helper at $capture"
for tool in Xvfb xauth wine wineboot wineserver bmptopnm pnmtopng; do
  command -v "$tool" >/dev/null || die "$tool is not installed"
done

work="$build/pictures"
mkdir -p "$work"
export WINEPREFIX="$work/wine"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# The name under which Wine reports Windows NT 4.0 to the stub.
old_windows_stub="$work/OldWindowsSetup.exe"
cp "$stub" "$old_windows_stub"

tmp=$(mktemp -d)
xvfb_pid=""
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$tmp"
}
trap cleanup EXIT

# A private X server on a display number it picks itself (-displayfd), so it
# cannot clash with another one; only clients with its cookie may connect
# (the server takes every cookie of its file, whatever display it names).
cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
touch "$tmp/server.auth" "$tmp/client.auth"
xauth -q -f "$tmp/server.auth" add :0 . "$cookie"
Xvfb -displayfd 3 -auth "$tmp/server.auth" -nolisten tcp -screen 0 800x600x24 \
  3>"$tmp/display" >"$tmp/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$tmp/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || die "Xvfb did not start: $(cat "$tmp/xvfb.log")"
  sleep 0.1
done
[ -s "$tmp/display" ] || die "Xvfb did not report its display"
export DISPLAY=":$(tr -d '\n' < "$tmp/display")"
export XAUTHORITY="$tmp/client.auth"
xauth -q -f "$XAUTHORITY" add "$DISPLAY" . "$cookie"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating the pictures' Wine prefix (about 20 s, once)"
  WINEARCH=win64 wineboot -i >/dev/null 2>&1 || true
  wineserver -w
fi
# The desktop is read when Wine's session starts: write the settings, then let
# that session end before the first box.
cat > "$tmp/settings.reg" <<'EOF'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="640x480"

[HKEY_CURRENT_USER\Software\Wine\AppDefaults\OldWindowsSetup.exe]
"Version"="nt40"
EOF
wine regedit /S "$(printf 'Z:%s' "$tmp/settings.reg" | tr / '\\')" >/dev/null 2>&1
wineserver -w

failures=0
# take TAG LOCALE TITLE TEXT: one box in the language Wine derives from LOCALE.
take() {
  local tag=$1 locale=$2 title=$3 text=$4
  local picture="$out/failure-box-$tag.png" bitmap="$tmp/$tag.bmp" report="$tmp/$tag.txt"
  rm -f "$picture"
  if ! LC_ALL=$locale wine "$capture" "$old_windows_stub" "$bitmap" >"$report" 2>"$tmp/$tag.err"; then
    echo "$tag: the capture failed:"; cat "$report" "$tmp/$tag.err"
    failures=$((failures + 1))
    return
  fi
  if ! { bmptopnm "$bitmap" | pnmtopng >"$picture"; } 2>"$tmp/$tag.err"; then
    echo "$tag: the picture could not be converted to PNG:"; cat "$tmp/$tag.err"
    rm -f "$picture"
    failures=$((failures + 1))
    return
  fi
  local expected
  expected=$(printf 'title=%s\ntext=%s\nbuttons=%s\nicon=none\nowner=none\nexit=0x80040703' \
    "$title" "$text" "$(ok_text "$tag")")
  if [ "$(tr -d '\r' < "$report")" = "$expected" ]; then
    echo "$tag: $picture"
    sed 's/^/    /' "$report"
  else
    echo "$tag: the box is not as expected"
    diff <(echo "$expected") <(tr -d '\r' < "$report") || true
    failures=$((failures + 1))
  fi
}

# The OK button is Wine's own, in the user's language.
ok_text() {
  case $1 in
    he) echo "אישור";;
    *) echo "OK";;
  esac
}

take en en_US.UTF-8 "VireoCompanyName Installer" \
  "Installation failed. VireoCompanyName Installer requires Windows 2000 Service Pack 4 or better."
take de de_DE.UTF-8 "VireoCompanyName-Installer" \
  "Die Installation ist fehlgeschlagen. Der VireoCompanyName-Installer erfordert Windows 2000 Service Pack 4 oder höher."
take he he_IL.UTF-8 "תוכנית ההתקנה של VireoCompanyName" \
  "ההתקנה נכשלה. תוכנית ההתקנה של VireoCompanyName דורשת Windows 2000 Service Pack 4 או גרסה חדשה יותר."

[ "$failures" -eq 0 ] || die "$failures of 3 pictures failed"
echo "3 pictures of the failure box in $out"
