#!/usr/bin/env bash
# Builds the release of one commit twice, in two clones in folders of
# different names and depths, and compares the artefacts byte for byte.
#   scripts/check-reproducible.sh [COMMIT]   (default: HEAD)
# Exit status 0 when every artefact is identical. Takes two full release
# builds, so it is not part of scripts/test.sh. KEEP=1 keeps the clones.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
commit="$(git -C "$root" rev-parse "${1:-HEAD}^{commit}")"

tmp="$(mktemp -d)"
[ -n "${KEEP:-}" ] || trap 'rm -rf "$tmp"' EXIT
first="$tmp/a/tcc" second="$tmp/second-clone/deeper/tandrel"

for dir in "$first" "$second"; do
  git clone -q --no-checkout "$root" "$dir"
  git -C "$dir" -c advice.detachedHead=false checkout -q "$commit"
  echo "==== release of ${commit:0:12} in $dir"
  "$dir/scripts/release.sh"
done

echo
echo "==== comparison"
status=0
for f in "$first"/build/release/*; do
  name="$(basename "$f")"
  if cmp -s "$f" "$second/build/release/$name"; then
    printf 'identical  %10d  %s\n' "$(stat -c %s "$f")" "$name"
  else
    printf 'DIFFERENT  %10d  %s\n' "$(stat -c %s "$f")" "$name"
    status=1
  fi
done
only="$(diff <(ls "$first/build/release") <(ls "$second/build/release") || true)"
[ -z "$only" ] || { echo "the two runs wrote different files:"; echo "$only"; status=1; }
echo "SHA256SUMS of the first run:"
cat "$first/build/release/SHA256SUMS"
[ "$status" -eq 0 ] && echo "reproducible: yes" || echo "reproducible: NO"
exit "$status"
