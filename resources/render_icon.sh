#!/usr/bin/env bash
# Renders icon.svg into quillmere.ico (16..256 px, 32-bit RGBA, every entry
# stored as PNG). The generated .ico is committed, so the build itself never
# needs this script; rerun it after editing the SVG.
# Needs rsvg-convert (librsvg2-bin) and icotool (icoutils).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
svg="$here/icon.svg"
ico="$here/quillmere.ico"
# Entry order matters: windres numbers the icons 1..N in this order.
sizes=(16 20 24 32 48 64 128 256)

for tool in rsvg-convert icotool; do
    command -v "$tool" >/dev/null || { echo "render_icon.sh: $tool not found" >&2; exit 1; }
done

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

args=()
for s in "${sizes[@]}"; do
    png="$tmp/$s.png"
    rsvg-convert --format=png --width="$s" --height="$s" --keep-aspect-ratio \
        --output="$png" "$svg"
    # IHDR: bit depth at byte 24, colour type at byte 25; want 8 / 6 (RGBA).
    hdr="$(od -An -tu1 -j24 -N2 "$png" | tr -s ' ')"
    if [[ "$hdr" != " 8 6" ]]; then
        echo "render_icon.sh: $s.png is not 8-bit RGBA (depth/type:$hdr)" >&2
        exit 1
    fi
    args+=(-r "$png")
done

icotool -c -o "$tmp/quillmere.ico" "${args[@]}"
mv -f "$tmp/quillmere.ico" "$ico"
echo "wrote $ico ($(stat -c %s "$ico") bytes)"
