#!/usr/bin/env bash
# The release path, checked on every test run from the test builds:
#   check_release.sh ARTEFACT_DIR
# ARTEFACT_DIR holds what scripts/package.sh wrote. Checks the version the
# tools report, the packages' contents and man pages, and the installer under
# Wine: a silent install, the installed program's window, a silent uninstall
# that leaves the user's settings and files.
#
# Environment: WINEPREFIX and DISPLAY from scripts/wine-env.sh,
# TCC_BUILD_ROOT (the native and win test builds).
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
dir="$(realpath "${1:?usage: check_release.sh ARTEFACT_DIR}")"
: "${WINEPREFIX:?source scripts/wine-env.sh first}" "${DISPLAY:?no X display}" "${TCC_BUILD_ROOT:?}"
native="$TCC_BUILD_ROOT/native" win="$TCC_BUILD_ROOT/win"

passed=0
fail() { echo "FAIL [release]: $*" >&2; echo "release: $passed passed, 1 failed"; exit 1; }
ok() { echo "ok   $*"; passed=$((passed + 1)); }
expect_eq() {  # what, actual, expected
  [ "$2" = "$3" ] || fail "$1: got \"$2\", expected \"$3\""
}

version="$(sed -n 's/^project(.* VERSION \([0-9.]*\) .*/\1/p' "$root/CMakeLists.txt")"
[ -n "$version" ] || fail "no project version in CMakeLists.txt"
name="TandrelConfigurationController-$version"
arch="$(dpkg --print-architecture)"
deb="$dir/tcc-tools_${version}_$arch.deb"

# ---- one version
for tool in tcc-upload tcc-station-sim; do
  exe="$(find "$native/tools" -type f -name "$tool" | head -n 1)"
  [ -x "$exe" ] || fail "no $tool in $native"
  expect_eq "$tool --version" "$("$exe" --version)" "$tool $version"
done
expect_eq "package version" "$(dpkg-deb -f "$deb" Version)" "$version"
# The program's VS_FIXEDFILEINFO: the file version is the version plus a build number.
file_version="$(python3 -c '
import struct, sys, zipfile
exe = zipfile.ZipFile(sys.argv[1]).read(sys.argv[2])
at = exe.find(struct.pack("<I", 0xFEEF04BD))
ms, ls = struct.unpack_from("<II", exe, at + 8) if at >= 0 else (0, 0)
print("%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF))' \
  "$dir/$name-win64.zip" "$name/TandrelConfigurationController.exe")"
[[ "$file_version" == "$version".* ]] || fail "the program's file version $file_version is not $version.N"
ok "tools, package and program report version $version (file version $file_version)"

# ---- artefacts and their sums
(cd "$dir" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the artefacts"
expect_eq "files summed" "$(awk '{ print $2 }' "$dir/SHA256SUMS" | sort | tr '\n' ' ')" \
  "$name-setup.exe $name-win64.zip tcc-tools_${version}_$arch.deb tcc-tools_${version}_$arch.tar.gz "
ok "SHA256SUMS covers the four artefacts"

# ---- Linux package: what dpkg-deb lists, owned by root
listing="$(dpkg-deb -c "$deb")"
for f in ./usr/bin/tcc-upload ./usr/bin/tcc-station-sim \
         ./usr/share/man/man1/tcc-upload.1.gz ./usr/share/man/man1/tcc-station-sim.1.gz \
         ./usr/share/doc/tcc-tools/README.md ./usr/share/doc/tcc-tools/copyright; do
  grep -qE " $f\$" <<<"$listing" || fail "the package lacks $f: $listing"
done
if grep -v ' root/root ' <<<"$listing" | grep -q .; then fail "entries not owned by root: $listing"; fi
expect_eq "tarball files" "$(tar -tzf "$dir/tcc-tools_${version}_$arch.tar.gz" | grep -v '/$' | sed 's,^[^/]*/,./usr/,' | sort)" \
  "$(grep -v '/$' <<<"$listing" | awk '{ print $NF }' | sort)"
ok "the .deb and the tarball hold the tools, their man pages, README and copyright"

# ---- man pages: every option that --help names, the exit statuses, an example
for tool in tcc-upload tcc-station-sim; do
  page="$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - "./usr/share/man/man1/$tool.1.gz" | gzip -dc | sed 's/\\-/-/g')"
  exe="$(find "$native/tools" -type f -name "$tool" | head -n 1)"
  for opt in $("$exe" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    grep -qF -- "$opt" <<<"$page" || fail "the man page of $tool lacks $opt"
  done
  grep -q '^\.SH "EXIT STATUS"' <<<"$page" || fail "the man page of $tool has no exit statuses"
  grep -q '/dev/ttyUSB0' <<<"$page" || fail "the man page of $tool has no example with a USB adapter"
  grep -qF "$tool $version" <<<"$page" || fail "the man page of $tool names no version $version"
done
ok "the man pages name every option, the exit statuses and a USB adapter"

# ---- Windows zip: the installer's files in one folder
zip_names="$(python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$dir/$name-win64.zip")"
for f in TandrelConfigurationController.exe README.txt; do
  grep -qxF "$name/$f" <<<"$zip_names" || fail "the zip lacks $name/$f: $zip_names"
done
if [ -f "$win/app/TandrelConfigurationController.chm" ]; then
  grep -qxF "$name/TandrelConfigurationController.chm" <<<"$zip_names" || fail "the build has a help file, the zip not"
fi
# Nothing to install beside the program: it imports only Windows' own DLLs.
python3 -c 'import sys, zipfile; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))' \
  "$dir/$name-win64.zip" "$name/TandrelConfigurationController.exe" >"$TCC_BUILD_ROOT/release-check-program.exe"
imports="$(x86_64-w64-mingw32-objdump -p "$TCC_BUILD_ROOT/release-check-program.exe" | sed -n 's/^\s*DLL Name: //p' |
  tr 'A-Z' 'a-z' | sort | xargs)"
for dll in $imports; do
  case "$dll" in
    advapi32.dll | comctl32.dll | comdlg32.dll | gdi32.dll | kernel32.dll | msvcrt.dll | shell32.dll | \
    ole32.dll | setupapi.dll | user32.dll | ws2_32.dll | hhctrl.ocx) ;;
    *) fail "the program needs $dll, which Windows does not have (imports: $imports)" ;;
  esac
done
ok "the zip holds the program and the readme; the program imports only Windows' DLLs ($imports)"

# ---- Windows installer under Wine
readonly TITLE="Halvorix Serial Configuration Uploader"
readonly KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\TandrelConfigurationController'
guidriver="$win/tests/wine-gui/guidriver.exe"
[ -f "$guidriver" ] || fail "no guidriver.exe in $win"
progdir="$WINEPREFIX/drive_c/Program Files/TandrelConfigurationController"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tandrel Configuration Controller.lnk"
settings_file() {
  find "$WINEPREFIX/drive_c/users" -maxdepth 6 -ipath '*/TandrelConfigurationController/TandrelConfigurationController.ini' |
    head -n 1
}
work="$TCC_BUILD_ROOT/release-check-work"
rm -rf "$work" "$progdir"
settings="$(settings_file)"
[ -z "$settings" ] || rm -f "$settings"
mkdir -p "$work"

app_pid=""
cleanup() {
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; fi
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT
reg_value() { wine reg query "$KEY" /v "$1" 2>/dev/null | tr -d '\r' | awk -v v="$1" '$1 == v { print $3 }'; }
# Every Wine process of the prefix has ended: the uninstaller runs from a copy
# of itself that outlives the process we started.
wine_idle() { timeout 120 wineserver -w || fail "Wine processes still running after 120 s"; }

wine "$dir/$name-setup.exe" /S >"$work/setup.log" 2>&1 || fail "the installer failed: $(cat "$work/setup.log")"
wine_idle
installed=(TandrelConfigurationController.exe README.txt Uninstall.exe)
[ ! -f "$win/app/TandrelConfigurationController.chm" ] || installed+=(TandrelConfigurationController.chm)
for f in "${installed[@]}"; do
  [ -f "$progdir/$f" ] || fail "the installer left no $f in $progdir"
done
cmp -s "$progdir/TandrelConfigurationController.exe" "$TCC_BUILD_ROOT/release-check-program.exe" ||
  fail "the installer and the zip hold different programs"
[ -f "$shortcut" ] || fail "no Start-menu shortcut at $shortcut"
expect_eq "Add/Remove Programs DisplayVersion" "$(reg_value DisplayVersion)" "$version"
ok "setup.exe /S installed the program, the shortcut and the Add/Remove Programs entry"

wine "C:\\Program Files\\TandrelConfigurationController\\TandrelConfigurationController.exe" >"$work/app.log" 2>&1 &
app_pid=$!
wine "$guidriver" wait-window "$TITLE" 60 || fail "the installed program opened no window"
wine "$guidriver" close "$TITLE" || fail "could not close the installed program"
deadline=$((SECONDS + 30))
while kill -0 "$app_pid" 2>/dev/null; do
  [ "$SECONDS" -lt "$deadline" ] || fail "the installed program did not end within 30 s of Cancel"
  sleep 0.1
done
app_pid=""
settings="$(settings_file)"
[ -n "$settings" ] || fail "the program wrote no settings under %APPDATA%"
ok "the installed program opens its window and closes"

# A file the user saved into the program's folder must survive the uninstall.
printf 'user data' >"$progdir/station.qmf"
wine "$progdir/Uninstall.exe" /S >"$work/uninstall.log" 2>&1 || fail "the uninstaller failed: $(cat "$work/uninstall.log")"
wine_idle
for f in TandrelConfigurationController.exe TandrelConfigurationController.chm README.txt Uninstall.exe; do
  [ ! -e "$progdir/$f" ] || fail "the uninstaller left $f"
done
expect_eq "files left in the program's folder" "$(ls -A "$progdir")" "station.qmf"
[ ! -e "$shortcut" ] || fail "the uninstaller left the Start-menu shortcut"
if wine reg query "$KEY" >/dev/null 2>&1; then fail "the uninstaller left the registry key $KEY"; fi
[ -f "$settings" ] || fail "the uninstaller removed the user's settings"
rm -rf "$progdir" "$settings"
ok "Uninstall.exe /S removed its files, shortcut and key, and kept the user's settings and file"

echo "release: $passed passed, 0 failed"
