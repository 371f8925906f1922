#!/bin/sh
# Unpacks the built .deb into a scratch root, as dpkg would install it, and runs what it
# installed from there: a short render, the checks of the installed manual pages, desktop
# entry and metainfo, and the renderer's version against the package's.
# Usage: deb_install_test.sh QUILLFERN.deb
set -eu
deb=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
fail() {
  echo "deb_install_test: $*" >&2
  exit 1
}

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"

desktop=usr/share/applications/quillfern.desktop
metainfo=usr/share/metainfo/io.github.quillfern.Quillfern.metainfo.xml
for file in usr/bin/quillfern usr/bin/quillfern-render usr/share/icons/hicolor/scalable/apps/quillfern.svg \
  "$desktop" "$metainfo"; do
  [ -f "$root/$file" ] || fail "the package does not install /$file"
done

renderer=$root/usr/bin/quillfern-render
# A tenth of a second of A4: 4410 frames of 32-bit float after the WAV header.
printf '0 midi 90 69 100\n2205 midi 80 69 0\n4410 end\n' >"$root/a4.score"
"$renderer" "$root/a4.score" -o "$root/a4.wav" || fail "the installed renderer failed"
size=$(stat -c %s "$root/a4.wav")
[ "$size" -gt $((4410 * 4)) ] || fail "a4.wav holds $size bytes, fewer than its samples"

"$here/check_man_pages.sh" "$renderer" "$root/usr/share/man/man1"
version=$(dpkg-deb --field "$deb" Version)
"$here/check_metadata.sh" "$root/$desktop" "$root/$metainfo" "$version"
"$renderer" --version | grep -q -F "$version" ||
  fail "quillfern-render --version does not name the package's version $version"
