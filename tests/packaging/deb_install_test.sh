#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Unpacks the built packages into a scratch root, as dpkg would install them, and runs what
# they installed from there: the renderer's manual page's examples on the installed examples,
# the checks of the installed manual pages, desktop entry and metainfo, the renderer's version
# against the package's, and the LV2 bundle as lv2ls finds it. The plugins' package must pull
# in no Qt, PortAudio or JACK package, as apt would resolve it for an empty root.
# Usage: deb_install_test.sh QUILLFERN.deb QUILLFERN-PLUGINS.deb
set -eu
program_deb=$(realpath "$1")
plugins_deb=$(realpath "$2")
here=$(dirname "$(realpath "$0")")
fail() {
  echo "deb_install_test: $*" >&2
  exit 1
}

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$program_deb" "$root"
dpkg -x "$plugins_deb" "$root"

desktop=usr/share/applications/quillfern.desktop
metainfo=usr/share/metainfo/io.github.quillfern.Quillfern.metainfo.xml
addon=usr/share/metainfo/io.github.quillfern.Quillfern.plugins.metainfo.xml
examples=usr/share/doc/quillfern/examples
for file in usr/bin/quillfern usr/bin/quillfern-render usr/share/icons/hicolor/scalable/apps/quillfern.svg \
  usr/share/icons/hicolor/48x48/apps/quillfern.png usr/share/icons/hicolor/128x128/apps/quillfern.png \
  usr/share/icons/hicolor/256x256/apps/quillfern.png "$desktop" "$metainfo" "$addon" \
  usr/share/doc/quillfern/README "$examples/demo.score" "$examples/melody.mid" \
  usr/lib/clap/quillfern.clap usr/lib/lv2/quillfern.lv2/manifest.ttl; do
  [ -f "$root/$file" ] || fail "the packages do not install /$file"
done
for deb in "$program_deb" "$plugins_deb"; do
  if [ "$(dpkg-deb --contents "$deb" | grep -c '/usr/lib/clap/\|/usr/lib/lv2/')" -gt 0 ]; then
    [ "$deb" = "$plugins_deb" ] || fail "$deb holds a plugin"
  fi
done

renderer=$root/usr/bin/quillfern-render
python3 "$here/run_documented_commands.py" "$here/../../docs/man/quillfern-render.1.scd" \
  --path "$root/usr/bin" --replace "/$examples=$root/$examples"
"$here/check_man_pages.sh" "$renderer" "$root/usr/share/man/man1"
version=$(dpkg-deb --field "$program_deb" Version)
"$here/check_metadata.sh" "$root/$desktop" "$root/$metainfo" "$version" "$root/$addon"
"$renderer" --version | grep -q -F "$version" ||
  fail "quillfern-render --version does not name the package's version $version"
LV2_PATH=$root/usr/lib/lv2 lv2ls | grep -q -x 'urn:quillfern:synth' ||
  fail "lv2ls does not find the installed LV2 plugin"

# What apt would install with the plugins into a root that has nothing yet.
empty_status=$root/dpkg-status
: >"$empty_status"
pulled=$(apt-get --simulate -o "Dir::State::status=$empty_status" install "$plugins_deb" 2>&1) ||
  fail "apt cannot resolve the plugins' package: $pulled"
unwanted=$(printf '%s\n' "$pulled" | sed -n 's/^Inst \([^ ]*\).*/\1/p' |
  grep -E -i 'qt|portaudio|jack' || true)
[ -z "$unwanted" ] || fail "the plugins' package pulls in $(printf '%s\n' "$unwanted" | paste -s -d ' ' -)"
printf '%s\n' "$pulled" | grep -q '^Inst quillfern-plugins ' ||
  fail "apt would not install the plugins' package: $pulled"
