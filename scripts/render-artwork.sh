#!/usr/bin/env bash
# Re-renders the client's pictures (resources/images/*.png) and the
# application icon (resources/icons/hicolor/) from their vector sources
# (resources/art/*.svg). The rendered PNGs are committed, so the build
# never runs this; run it by hand after editing an SVG.
# Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
ART="$ROOT/resources/art"
OUT="$ROOT/resources/images"

if ! command -v rsvg-convert >/dev/null 2>&1; then
  echo "rsvg-convert not found: apt-get install librsvg2-bin" >&2
  exit 1
fi

# name width height
SIZES="
online 320 560
logon 430 330
helpback 400 184
printbackground 560 590
PrintParams 620 520
userinfo 300 380
MessageInfo 318 227
lineEdlt 60 30
dot1 24 24
dot2 24 24
dot3 24 24
dot4 24 24
dot5 24 24
min 20 20
min_on 20 20
Logout 40 40
Logout_on 40 40
Logout_down 40 40
Web 40 40
Web_on 40 40
Web_down 40 40
about 40 40
about_on 40 40
about_down 40 40
button 100 30
button_on 100 30
button_down 100 30
arrowdown 12 12
arrowdown_on 12 12
arrowdown_down 12 12
checkbox_off 16 16
checkbox_over 16 16
checkbox_on 16 16
ICON_Online 64 64
ICON_Offline 64 64
"

mkdir -p "$OUT"
count=0
while read -r name w h; do
  [ -n "${name:-}" ] || continue
  src="$ART/$name.svg"
  if [ ! -f "$src" ]; then
    echo "missing source: $src" >&2
    exit 1
  fi
  rsvg-convert --format=png --width="$w" --height="$h" --output="$OUT/$name.png" "$src"
  count=$((count + 1))
done <<< "$SIZES"
echo "rendered $count pictures into $OUT"

# The application icon in the sizes of the hicolor theme, installed by the
# package (the SVG itself goes to hicolor/scalable).
ICONS="$ROOT/resources/icons/hicolor"
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "$ICONS/${size}x${size}/apps"
  rsvg-convert --format=png --width="$size" --height="$size" \
    --output="$ICONS/${size}x${size}/apps/orixclient.png" "$ART/ICON_Online.svg"
done
echo "rendered the application icon into $ICONS"

# The offline tray icon in the same sizes, compiled in (not a theme icon):
# the tray takes the size it shows at, also on a scaled screen.
OFFLINE="$ROOT/resources/icons/offline"
mkdir -p "$OFFLINE"
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert --format=png --width="$size" --height="$size" \
    --output="$OFFLINE/${size}x${size}.png" "$ART/ICON_Offline.svg"
done
echo "rendered the offline tray icon into $OFFLINE"
