#!/usr/bin/env bash
# Builds the Windows Installer package from the files the setup installs:
#   scripts/build-msi.sh STAGE VERSION OUT.msi
# STAGE is the Windows build's install tree (scripts/package.sh stages it).
# The same files, version and SOURCE_DATE_EPOCH give the same bytes: the
# ProductCode comes from the UpgradeCode and the version, the times and the
# package code from msi_summary.py.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
[ $# -eq 3 ] || { echo "usage: scripts/build-msi.sh STAGE VERSION OUT.msi" >&2; exit 2; }
stage="$(realpath "$1")" version="$2" out="$(realpath "$3")"
: "${SOURCE_DATE_EPOCH:?build-msi.sh: set SOURCE_DATE_EPOCH to the time of the release}"
wxs="$root/packaging/windows/TandrelConfigurationController.wxs"

upgrade_code="$(sed -n 's/.*UpgradeCode="\([0-9A-F-]*\)".*/\1/p' "$wxs")"
product_code="$(python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' \
  "$upgrade_code" "TandrelConfigurationController $version")"

# One UploadConfig.ini for each rate that BAUD= may choose.
rates="$out.rates"
rm -rf "$rates" "$out"
trap 'rm -rf "$rates"' EXIT
conditions=""
for rate in 9600 19200 38400 57600 115200; do
  mkdir -p "$rates/$rate"
  printf 'BAUDRATE=%s\r\n' "$rate" >"$rates/$rate/UploadConfig.ini"
  touch -d "@$SOURCE_DATE_EPOCH" "$rates/$rate/UploadConfig.ini"
  # 400: 64-bit (256), never overwrite an existing file (128), permanent (16).
  conditions+="UPDATE \`Component\` SET \`Attributes\` = 400, \`Condition\` = 'BAUD=\"$rate\"' "
  conditions+="WHERE \`Component\` = 'Baud$rate';"
done

# wixl looks for the files by paths relative to the folder it runs in.
(cd "$(dirname "$out")" &&
  wixl -a x64 -D Version="$version" -D ProductCode="$product_code" -D Stage="$(realpath --relative-to=. "$stage")" \
    -D BaudFiles="$(basename "$rates")" -o "$(basename "$out")" "$wxs")
msibuild "$out" -q "$conditions"
python3 "$root/packaging/windows/msi_summary.py" "$out"
