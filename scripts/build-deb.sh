#!/usr/bin/env bash
# Builds the Debian package `quillfern` with dpkg-buildpackage from a copy of the source under
# BUILD_DIR/deb (default build/deb): dpkg-buildpackage writes its results into the parent of
# the source tree, which thus stays inside the build tree and out of the clone's parent.
# Prints the path of the .deb as its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
deb_dir=${1:-build}/deb
source_copy=$deb_dir/quillfern

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
if ! (cd "$source_copy" && dpkg-buildpackage -us -uc -b) >"$log" 2>&1; then
  tail -n 40 "$log" >&2
  echo "build-deb: dpkg-buildpackage failed; the whole log is $log" >&2
  exit 1
fi
debs=("$deb_dir"/quillfern_*.deb)
echo "Built ${debs[0]} (log: $log)" >&2
echo "${debs[0]}"
