#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Removes what scripts/install.sh put in place, as its record in RECORD_DIR lists it: every
# file of install_manifest.txt, then every folder of install_folders.txt that is left empty
# (the install made them; a folder that holds something else stays). The record goes when
# everything listed is gone.
#   uninstall.sh RECORD_DIR
set -euo pipefail
manifest=$1/install_manifest.txt
folders=$1/install_folders.txt
[[ -f $manifest ]] || { echo "uninstall: nothing to remove: $manifest does not exist" >&2; exit 1; }

removed=0 gone=0 kept=()
while IFS= read -r file || [[ -n $file ]]; do  # cmake ends the last line with no newline
  [[ -n $file ]] || continue
  if [[ -e $file || -L $file ]]; then
    rm -f -- "$file" ||
      { echo "uninstall: cannot remove $file (root's? sudo make uninstall)" >&2; exit 1; }
    removed=$((removed + 1))
  else
    gone=$((gone + 1))
  fi
done <"$manifest"
empty=0
if [[ -f $folders ]]; then
  while IFS= read -r folder; do
    [[ -d $folder ]] || continue
    if rmdir -- "$folder" 2>/dev/null; then empty=$((empty + 1)); else kept+=("$folder"); fi
  done <"$folders"
fi
rm -f -- "$manifest" "$folders"
echo "Removed $removed files and $empty folders; $gone files were already gone."
[[ ${#kept[@]} -eq 0 ]] || echo "Kept, as they hold other files: ${kept[*]}"
