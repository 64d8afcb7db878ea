#!/usr/bin/env bash
# Packs what a release ships from two finished builds:
#   scripts/package.sh NATIVE_BUILD WIN_BUILD OUT_DIR
# The files come from the builds' install rules (cmake --install); OUT_DIR
# receives the Windows setup, MSI and zip, the Linux .deb and tarball, and
# SHA256SUMS over them. Time stamps come from SOURCE_DATE_EPOCH (the last
# commit's time when it is not set); owners, modes and the order of archive
# entries are fixed, so the same builds give the same bytes.
# With SIGN_PFX set (and SIGN_PASSWORD, SIGN_TIMESTAMP_URL as needed) every
# Windows executable and package is signed (scripts/sign.sh): the programs
# before they are packed, the uninstaller before the setup packs it, then
# the setup and the MSI; a signed release differs from the unsigned one by
# its signatures alone.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
[ $# -eq 3 ] || { echo "usage: scripts/package.sh NATIVE_BUILD WIN_BUILD OUT_DIR" >&2; exit 2; }
native="$(realpath "$1")" win="$(realpath "$2")"
mkdir -p "$3"
out="$(realpath "$3")"

die() { echo "package.sh: $*" >&2; exit 1; }
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$native/CMakeCache.txt")"
file_version="$(sed -n 's/^#define TCC_FILE_VERSION "\(.*\)"$/\1/p' "$native/generated/Version.h")"
[ -n "$version" ] && [ -n "$file_version" ] || die "no version in $native (not configured?)"

SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || true)}"
[ -n "$SOURCE_DATE_EPOCH" ] || die "not a git clone: set SOURCE_DATE_EPOCH to the release's time"
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
umask 022

name="TandrelConfigurationController-$version"
arch="$(dpkg --print-architecture)"
setup="$name-setup.exe" zip="$name-win64.zip" msi="$name-x64.msi"
deb="tcc-tools_${version}_$arch.deb" tarball="tcc-tools_${version}_$arch.tar.gz"

work="$out/.stage"
rm -rf "$work" "${out:?}/$setup" "$out/$zip" "$out/$msi" "$out/$deb" "$out/$tarball" "$out/SHA256SUMS"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

# Same modes and times whoever builds where; cmake --install sets the files'
# modes, the folders take the umask.
normalise() {
  find "$1" -type d -exec chmod 755 {} +
  find "$1" -type f -exec chmod u+rw,go+r,go-w {} +
  find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

linux="$work/linux" windows="$work/windows"
DESTDIR="$linux" cmake --install "$native" --prefix /usr --strip >/dev/null
cmake --install "$win" --prefix "$windows" --strip >/dev/null
for f in usr/bin/tcc-upload usr/bin/tcc-station-sim usr/share/man/man1/tcc-upload.1.gz; do
  [ -f "$linux/$f" ] || die "the native build installed no $f (help2man missing?)"
done
[ -f "$windows/TandrelConfigurationController.exe" ] || die "the Windows build installed no program"

# Debian's changelog (the tarball has it too): one entry made from the
# version, dated like the files, signed by the package's maintainer.
maintainer="Halvorix <support@halvorix.example>"
printf '%s\n' "tcc-tools ($version) unstable; urgency=medium" "" \
  "  * Release $version of the Tandrel Configuration Controller tools." "" \
  " -- $maintainer  $(date -u -R -d "@$SOURCE_DATE_EPOCH")" |
  gzip -9n >"$linux/usr/share/doc/tcc-tools/changelog.gz"
normalise "$linux"
signing="" nsis_sign=()
if [ -n "${SIGN_PFX:-}" ]; then
  [ -f "$SIGN_PFX" ] || die "SIGN_PFX: no file $SIGN_PFX"
  signing=1
  "$root/scripts/sign.sh" "$windows/TandrelConfigurationController.exe" "$windows/tcc-upload.exe"
  nsis_sign=(-DSIGN_COMMAND="$root/scripts/sign.sh")
fi
normalise "$windows"

# Linux tarball: the /usr tree under one folder, to unpack into a prefix
# with --strip-components=1.
tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner --format=gnu \
    --transform "s,^,tcc-tools-$version/," -C "$linux/usr" -cf - bin share | gzip -9n >"$out/$tarball"

# Debian package.
depends="$(
  cd "$work" && mkdir -p shlibs/debian && cd shlibs &&
  printf 'Source: tcc-tools\n\nPackage: tcc-tools\nArchitecture: any\n' >debian/control &&
  dpkg-shlibdeps -O "$linux/usr/bin/tcc-upload" "$linux/usr/bin/tcc-station-sim" 2>/dev/null |
    sed -n 's/^shlibs:Depends=//p')"
[ -n "$depends" ] || die "dpkg-shlibdeps found no dependencies"
installed_kib="$(find "$linux" -type f -printf '%s\n' | awk '{ k += int(($1 + 1023) / 1024) } END { print k }')"
mkdir "$linux/DEBIAN"
(cd "$linux" && find usr -type f | sort | xargs md5sum) >"$linux/DEBIAN/md5sums"
cat >"$linux/DEBIAN/control" <<CONTROL
Package: tcc-tools
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: $installed_kib
Depends: $depends
Section: utils
Priority: optional
Description: Tandrel Configuration Controller command-line tools
 tcc-upload fetches a Halvorix base station's configuration image over a
 serial line and saves it to a file; tcc-station-sim plays a station on a
 pseudo terminal or a serial device, for tests and training.
CONTROL
normalise "$linux"
dpkg-deb --root-owner-group -Zxz --build "$linux" "$out/$deb" >/dev/null

# Windows zip: the installer's files in one folder, sorted, with fixed times.
python3 - "$windows" "$out/$zip" "$name" "$SOURCE_DATE_EPOCH" <<'PY'
import os, sys, time, zipfile
src, dst, top, epoch = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
stamp = time.gmtime(max(epoch, 315532800))[:6]  # a zip holds no time before 1980
paths = []
for folder, dirs, files in os.walk(src):
    paths += [os.path.join(folder, f) for f in files]
with zipfile.ZipFile(dst, "w") as z:
    for path in sorted(paths):
        info = zipfile.ZipInfo(top + "/" + os.path.relpath(path, src).replace(os.sep, "/"), stamp)
        info.create_system = 0  # MS-DOS attributes, as Windows' own zips have
        info.compress_type = zipfile.ZIP_DEFLATED
        with open(path, "rb") as f:
            z.writestr(info, f.read(), compresslevel=9)
PY

# Windows installer. It knows the MSI by its UpgradeCode, and the running
# program by the name of its mark, each said once in its own source.
upgrade_code="$(sed -n 's/.*UpgradeCode="\([0-9A-F-]*\)".*/\1/p' "$root/packaging/windows/TandrelConfigurationController.wxs")"
running_mark="$(sed -n 's/^#define TCC_RUNNING_MARK_NAME "\(.*\)"$/\1/p' "$root/platform/RunningMark.h" | sed 's/\\\\/\\/g')"
[ -n "$upgrade_code" ] && [ -n "$running_mark" ] || die "no UpgradeCode in the .wxs or no running mark in platform/RunningMark.h"
makensis -V2 -DVERSION="$version" -DFILE_VERSION="$file_version" -DSTAGE="$windows" "${nsis_sign[@]}" \
  -DUPGRADE_CODE="$upgrade_code" -DRUNNING_MARK="$running_mark" \
  -DOUTFILE="$out/$setup" "$root/packaging/windows/TandrelConfigurationController.nsi" >/dev/null

# Windows Installer package, from the same files.
"$root/scripts/build-msi.sh" "$windows" "$version" "$out/$msi"
if [ -n "$signing" ]; then "$root/scripts/sign.sh" "$out/$msi"; fi

(cd "$out" && sha256sum -- "$setup" "$zip" "$msi" "$deb" "$tarball" | sort -k2 >SHA256SUMS)
echo "package.sh: version $version in $out"
(cd "$out" && ls -l -- "$setup" "$zip" "$msi" "$deb" "$tarball" SHA256SUMS)
