#!/usr/bin/env bash
# Builds the Windows edition's installer, quillmere.wxs, into a .msi with msitools (wixl, msibuild).
# Run by tools/release.sh, and by the release test for a package of another version.
#
# The same inputs give the same bytes in any folder at any time: the files go in dated at
# SOURCE_DATE_EPOCH, wixl runs with the clock frozen at that date (the package's creation and save
# times, the cabinet's file times), and the two codes wixl would draw at random are derived instead:
# the product code from the version (each version its own product, so that the next one is a major
# upgrade) and the package code from everything that goes into the package.
#
# Usage: SOURCE_DATE_EPOCH=SECONDS build_msi.sh VERSION EXE OUT.msi
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ $# -ne 3 ] || [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    sed -n '/^# Usage:/s/^# //p' "${BASH_SOURCE[0]}" >&2
    exit 2
fi
version=$1 exe=$2 out=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$exe" "$work/quillmere.exe"
cp "$here/../../resources/quillmere.ico" "$here/quillmere.wxs" "$work/"
touch -d "@$SOURCE_DATE_EPOCH" "$work"/*

read -r product_code package_code < <(python3 - "$version" "$work"/* "${BASH_SOURCE[0]}" <<'PY'
import hashlib, sys, uuid
version, inputs = sys.argv[1], hashlib.sha256(sys.argv[1].encode())
upgrade_code = uuid.UUID("A89A4B1F-B62F-41EC-8B82-7A770DCB586F")  # as in quillmere.wxs
for name in sys.argv[2:]:  # the three files in name order, then this script
    with open(name, "rb") as f:
        inputs.update(hashlib.sha256(f.read()).digest())
print(str(uuid.uuid5(upgrade_code, "product " + version)).upper(),
      "{%s}" % str(uuid.uuid5(upgrade_code, "package " + inputs.hexdigest())).upper())
PY
)
frozen=(env TZ=UTC0 faketime "$(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S')")
(cd "$work" &&
    "${frozen[@]}" wixl --arch x64 -D Version="$version" -D ProductCode="$product_code" -D Files=. \
        -o quillmere.msi quillmere.wxs &&
    "${frozen[@]}" msibuild quillmere.msi -s "Quillmere $version" "The Quillmere developers" \
        "x64;1033" "$package_code" &&
    # The action that records where the files are, as Windows Installer means it: a plain property
    # setter (type 51; wixl adds a flag that only deferred actions may carry), right after costing
    # has resolved the folder (wixl numbers an action placed After or Before by what else the
    # package holds, at times before costing).
    "${frozen[@]}" msibuild quillmere.msi \
        -q "UPDATE \`CustomAction\` SET \`Type\` = 51 WHERE \`Action\` = 'SetInstallLocation'" \
        -q "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = 1001
            WHERE \`Action\` = 'SetInstallLocation'")
mv "$work/quillmere.msi" "$out"
