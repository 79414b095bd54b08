#!/usr/bin/env bash
# The Debian package of a build, as a user gets it: cpack makes
# vesk_VERSION_ARCH.deb; it holds the programs, the desktop entry, the icons,
# the metadata, the manual pages and the batch files; its dependencies were
# found from the programs' libraries; it has no maintainer scripts (removing
# it removes exactly its files); its metadata validates and its manual pages
# format without a warning; and vesk-batch, unpacked into a scratch root,
# runs from there, says the build's version, finds its picture module and
# converts a file through libsndfile, and vesk starts from there.
#
#   check_package.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
build=$1 source=$2 version=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Made in the scratch directory, so a test run leaves no package behind.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
deb=$scratch/out/vesk_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $(basename "$deb") among: $(ls "$scratch/out")"

contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
expected=(./usr/bin/vesk ./usr/bin/vesk-batch ./usr/share/applications/vesk.desktop
          ./usr/share/icons/hicolor/scalable/apps/vesk.svg ./usr/share/metainfo/org.vesk.Vesk.metainfo.xml
          ./usr/share/man/man1/vesk.1 ./usr/share/man/man1/vesk-batch.1)
for side in 16 32 48 256; do
  expected+=("./usr/share/icons/hicolor/${side}x${side}/apps/vesk.png")
done
for file in "$source"/examples/presets/*.txt; do
  expected+=("./usr/share/vesk/presets/$(basename "$file")")
done
for file in "$source"/examples/*.txt; do
  expected+=("./usr/share/vesk/examples/$(basename "$file")")
done
for file in "${expected[@]}"; do
  grep -qxF "$file" <<<"$contents" || fail "the package lacks $file"
done
grep -qE '^\./usr/lib/.*vesk/plugins/vesk-plot\.so$' <<<"$contents" || fail "the package lacks the picture module"

depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libqt6widgets6 libebur128-1 libsndfile1; do
  grep -q "$library" <<<"$depends" || fail "Depends names no $library: $depends"
done
dpkg-deb -e "$deb" "$scratch/control"
scripts=$(ls "$scratch/control" | grep -vxE 'control|md5sums' || true)
[ -z "$scripts" ] || fail "maintainer scripts in the package: $scripts"

root=$scratch/root
dpkg -x "$deb" "$root"
said=$("$root/usr/bin/vesk-batch" --version)
[ "$said" = "vesk-batch $version" ] || fail "vesk-batch --version said '$said', not 'vesk-batch $version'"
# Read whole before it is searched: grep -q leaves at the first match, and
# the rest of a long help would then meet a closed pipe.
help=$("$root/usr/bin/vesk-batch" --help)
grep -q "^  jitteramp " <<<"$help" || fail "vesk-batch --help lists no keywords"
# The window program starts and keeps running until it is ended.
status=0
QT_QPA_PLATFORM=offscreen timeout 3 "$root/usr/bin/vesk" >"$scratch/vesk.log" 2>&1 || status=$?
[ "$status" -eq 124 ] || { cat "$scratch/vesk.log" >&2; fail "vesk ended by itself (status $status)"; }
"$root/usr/bin/vesk-batch" --spectra png -e "inpwavname $build/examples/demo-in.wav" -e "outwavname $scratch/out.wav" \
  -e process >/dev/null || fail "vesk-batch --spectra png failed from the scratch root"
[ -s "$scratch/out.spectra.png" ] || fail "no picture from the scratch root's vesk-batch"
"$root/usr/bin/vesk-batch" --import "$build/examples/demo-in.wav" "$scratch/imported.wav" >/dev/null ||
  fail "vesk-batch --import failed from the scratch root"

appstreamcli validate --no-net "$root/usr/share/metainfo/org.vesk.Vesk.metainfo.xml" >"$scratch/appstream.log" 2>&1 ||
  { cat "$scratch/appstream.log" >&2; fail "the metadata does not validate"; }
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/org.vesk.Vesk.metainfo.xml" ||
  fail "the metadata has no release notes for $version"
for page in vesk vesk-batch; do
  warnings=$(groff -ww -man -z "$root/usr/share/man/man1/$page.1" 2>&1)
  [ -z "$warnings" ] || fail "$page.1: $warnings"
  grep -q "Vesk $version" "$root/usr/share/man/man1/$page.1" || fail "$page.1 is not marked with version $version"
done
echo "package $(basename "$deb"): every file, dependencies, metadata, manual pages and --version checked"
