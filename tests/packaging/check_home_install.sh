#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# `make install`'s install (scripts/install.sh, its record kept in the scratch folder) of the
# build tree into a scratch home folder, as the README's "for your account only" does it: the
# plugins land where hosts look, lv2ls (LV2's default path) and our CLAP host (CLAP's search
# rules) find them without being told, the LV2 presets come with the bundle, the install says
# where in one line, and the renderer's manual page's examples run from the installed examples.
# Then a prefix outside the home folder: PREFIX/lib/clap and PREFIX/lib/lv2, and the line names
# the variables to extend, with which the hosts find them too. After each, `make uninstall`'s script leaves nothing of it, and the build tree's own
# install manifest is never written.
#   check_home_install.sh BUILD_DIR PLUGIN_HOST SOURCE_DIR
set -euo pipefail
build_dir=$1
plugin_host=$(realpath "$2")
source_dir=$3
fail() {
  echo "home install: $*" >&2
  exit 1
}
command -v lv2ls >/dev/null || { echo "SKIP: lv2ls is not installed (Debian: lilv-utils)"; exit 77; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
unset CLAP_PATH LV2_PATH
export HOME=$scratch/home
mkdir -p "$HOME"

manifest_before=$(stat -c '%Y %s' "$build_dir/install_manifest.txt" 2>/dev/null || echo none)
install_line() {  # PREFIX: installs there, prints the plugins' line
  "$source_dir/scripts/install.sh" "$build_dir" "$scratch" "$1" >"$scratch/install.log" ||
    fail "install.sh into $1 failed: $(tail -n 5 "$scratch/install.log")"
  local lines
  lines=$(grep -c 'Quillfern plugins:' "$scratch/install.log") || true
  [[ $lines -eq 1 ]] || fail "the install printed $lines lines about the plugins, not one"
  grep 'Quillfern plugins:' "$scratch/install.log"
}

plays_clap() {  # the CLAP plugin by its bare name, through our host's CLAP search
  "$plugin_host" quillfern.clap "$source_dir/scores/demo.score" -o "$scratch/clap.wav" ||
    fail "our CLAP host does not find quillfern.clap ($1)"
}

finds_lv2() {  # the plugin, and the factory presets that come with its bundle
  lv2ls | grep -q -x 'urn:quillfern:synth' || fail "lv2ls does not find the plugin ($1)"
  # Read whole first: grep -q stops early, and lv2info's broken pipe would fail the pipeline.
  local described
  described=$(lv2info urn:quillfern:synth)
  grep -q -x '[[:space:]]*Chaos' <<<"$described" || fail "lv2info lists no factory presets ($1)"
}

line=$(install_line "$HOME/.local")
echo "$line"
[[ $line == *"$HOME/.clap/quillfern.clap"*"$HOME/.lv2/quillfern.lv2"* ]] ||
  fail "a prefix in the home folder does not put the plugins in ~/.clap and ~/.lv2: $line"
finds_lv2 "the home folder's .lv2"
plays_clap "the home folder's .clap"
python3 "$source_dir/tests/packaging/run_documented_commands.py" \
  "$source_dir/docs/man/quillfern-render.1.scd" --path "$HOME/.local/bin" \
  --replace "/usr/share/doc/quillfern/examples=$HOME/.local/share/doc/quillfern/examples"

uninstalls() {  # FOLDER: the uninstall leaves FOLDER empty, or removes it if the install made it
  "$source_dir/scripts/uninstall.sh" "$scratch" >/dev/null || fail "uninstall.sh failed"
  [[ ! -e $1 || -z $(find "$1" -mindepth 1 -print -quit) ]] ||
    fail "uninstall left $(find "$1" -mindepth 1 | head -n 3)"
}
uninstalls "$HOME"
prefix=$scratch/opt
line=$(install_line "$prefix")
echo "$line"
[[ $line == *"CLAP_PATH=$prefix/lib/clap"*"LV2_PATH=$prefix/lib/lv2"* ]] ||
  fail "a prefix outside the home folder does not say which variables to extend: $line"
CLAP_PATH=$prefix/lib/clap plays_clap "CLAP_PATH"
LV2_PATH=$prefix/lib/lv2 finds_lv2 "LV2_PATH"
uninstalls "$scratch/opt"
manifest_after=$(stat -c '%Y %s' "$build_dir/install_manifest.txt" 2>/dev/null || echo none)
[[ $manifest_after == "$manifest_before" ]] ||
  fail "the build tree's install_manifest.txt was written"
echo "home install: found by lv2ls and our CLAP host"
