#!/usr/bin/env bash
# Signs Windows executables and installer packages in place (Authenticode,
# SHA-256) with the certificate and key of a PKCS#12 file:
#   SIGN_PFX=cert.pfx [SIGN_PASSWORD=...] [SIGN_TIMESTAMP_URL=http://...] scripts/sign.sh FILE...
# scripts/package.sh calls it for the programs and the packages, and makensis
# for the uninstaller and the setup. The password goes to osslsigncode on
# its standard input, not on a command line that others may read.
set -euo pipefail
: "${SIGN_PFX:?sign.sh: set SIGN_PFX to the PKCS#12 file of the signing certificate}"
args=(sign -pkcs12 "$SIGN_PFX" -h sha256 -n "Tandrel Configuration Controller")
if [ -n "${SIGN_PASSWORD+set}" ]; then args+=(-readpass -); fi
if [ -n "${SIGN_TIMESTAMP_URL:-}" ]; then args+=(-ts "$SIGN_TIMESTAMP_URL"); fi
for file in "$@"; do
  rm -f "$file.signed"
  if ! log="$(printf '%s\n' "${SIGN_PASSWORD:-}" | osslsigncode "${args[@]}" -in "$file" -out "$file.signed" 2>&1)"; then
    rm -f "$file.signed"
    echo "sign.sh: could not sign $file:" >&2
    echo "$log" >&2
    exit 1
  fi
  chmod --reference="$file" "$file.signed"
  mv "$file.signed" "$file"
done
