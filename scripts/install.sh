#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs a built tree as `cmake --install` does and records what it put in place, for
# scripts/uninstall.sh: the files (install_manifest.txt, as cmake writes it) and the folders it
# made (install_folders.txt), both in RECORD_DIR. The folders are learnt from a first install
# into a scratch DESTDIR: those of its folders this system lacks are the ones the install makes.
# The manifest is written to RECORD_DIR, never by cmake into the build tree, so that a test
# can install without touching a user's build products.
#   install.sh BUILD_DIR RECORD_DIR [PREFIX]     (no PREFIX: the one the tree was configured with)
set -euo pipefail
fail() {
  echo "install: $*" >&2
  exit 1
}
build_dir=$(realpath "$1")
record_dir=$(realpath "$2")
[[ -f $build_dir/cmake_install.cmake ]] ||
  fail "$build_dir is not a configured tree: run make build first"
prefix=${3:-$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build_dir/CMakeCache.txt")}
prefix=$(realpath -m "$prefix")

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# The install script cmake generated, with its manifest going to the scratch folder.
manifest_target="$build_dir/\${CMAKE_INSTALL_MANIFEST}"
script=$(<"$build_dir/cmake_install.cmake")
[[ $script == *"$manifest_target"* ]] ||
  fail "cmake's install script names no manifest to redirect"
printf '%s\n' "${script//"$manifest_target"/"$scratch/install_manifest.txt"}" \
  >"$scratch/install.cmake"

install_into() {  # DESTDIR (empty: the system itself)
  env -u DESTDIR ${1:+DESTDIR="$1"} cmake -DCMAKE_INSTALL_PREFIX="$prefix" \
    -P "$scratch/install.cmake" >"$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log" >&2; fail "cmake's install failed"; }
}

install_into "$scratch/stage"
made=$(cd "$scratch/stage" && find . -mindepth 1 -type d | cut -c2- |
  while IFS= read -r folder; do [[ -d $folder ]] || echo "$folder"; done)
install_into ""

# An earlier install, elsewhere or here, stays in the record while its files and folders exist,
# so that make uninstall removes them too. Each record is replaced whole, never written into:
# one that `sudo make install` left belongs to root.
record() {  # NAME TEST NEW: RECORD_DIR/NAME, its entries that pass TEST joined with NEW's
  { [[ -f $record_dir/$1 ]] && cat "$record_dir/$1"; echo; cat "$3"; } |
    while IFS= read -r entry || [[ -n $entry ]]; do  # cmake ends its last line with no newline
      if test "$2" "$entry"; then echo "$entry"; fi
    done | sort -ru >"$scratch/$1.new"
  mv -f "$scratch/$1.new" "$record_dir/$1"
}
echo "$made" >"$scratch/made"
record install_folders.txt -d "$scratch/made"
record install_manifest.txt -e "$scratch/install_manifest.txt"

echo "Installed $(grep -c "" "$scratch/install_manifest.txt") files under $prefix; make uninstall" \
  "removes them as $record_dir/install_manifest.txt lists them."
grep -h 'Quillfern plugins:' "$scratch/install.log" | sed 's/^-- //'
case ":$PATH:" in
  *":$prefix/bin:"*) ;;
  *) echo "Quillfern programs: $prefix/bin is not on PATH; add this line to ~/.profile" \
    "and log in again: export PATH=\"$prefix/bin:\$PATH\"" ;;
esac
