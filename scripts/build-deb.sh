#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian packages with dpkg-buildpackage from a copy of the source under
# BUILD_DIR/deb (default build/deb): dpkg-buildpackage writes its results into the parent of
# the source tree, which thus stays inside the build tree and out of the clone's parent.
#   build-deb.sh [BUILD_DIR] [binary|source|full]
# binary (the default): quillfern and quillfern-plugins with their debug symbols; source: the
# source package (.dsc); full: both, with the .changes that lists them. Prints the paths of the
# .dsc, the .debs without the debug symbols and the .changes, one a line, at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
deb_dir=${1:-build}/deb
kind=${2:-binary}
source_copy=$deb_dir/quillfern
declare -A kind_option=([binary]=-b [source]=-S [full]="")
[[ -v kind_option[$kind] ]] || { echo "build-deb: binary, source or full, not $kind" >&2; exit 2; }

rm -rf "$deb_dir"
mkdir -p "$source_copy"
# The repository's files as they are in the working tree (uncommitted edits and new files
# included), nothing that .gitignore leaves out, such as build trees.
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do
    if [[ -e $file ]]; then printf '%s\0' "$file"; fi  # a deleted file is left out
  done |
  tar --null --files-from=- -cf - | tar -xf - -C "$source_copy"

export DEB_BUILD_OPTIONS=${DEB_BUILD_OPTIONS:-parallel=$(nproc)}
log=$deb_dir/dpkg-buildpackage.log
# shellcheck disable=SC2086 # the option is one word or none
if ! (cd "$source_copy" && dpkg-buildpackage -us -uc ${kind_option[$kind]}) >"$log" 2>&1; then
  tail -n 40 "$log" >&2
  echo "build-deb: dpkg-buildpackage failed; the whole log is $log" >&2
  exit 1
fi
results=$(find "$deb_dir" -maxdepth 1 \( -name '*.dsc' -o -name '*.changes' -o \
  \( -name '*.deb' ! -name '*-dbgsym_*' \) \) | sort)
echo "Built $(echo "$results" | xargs -n 1 basename | paste -s -d ' ') in $deb_dir (log: $log)" >&2
echo "$results"
