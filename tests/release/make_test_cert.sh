#!/usr/bin/env bash
# A throwaway code-signing certificate for the release test, made anew on
# every run and trusted by nothing:
#   make_test_cert.sh DIR   writes DIR/signer.pem (the certificate) and
#                           DIR/signer.pfx (certificate and key, password in DIR/password)
set -euo pipefail
dir="${1:?usage: make_test_cert.sh DIR}"
rm -rf "$dir"
mkdir -p "$dir"
openssl rand -hex 16 >"$dir/password"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout "$dir/signer.key" -out "$dir/signer.pem" \
  -subj "/CN=Tandrel release test signer (throwaway)" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" 2>/dev/null
openssl pkcs12 -export -inkey "$dir/signer.key" -in "$dir/signer.pem" -out "$dir/signer.pfx" \
  -passout "file:$dir/password"
rm -f "$dir/signer.key"
