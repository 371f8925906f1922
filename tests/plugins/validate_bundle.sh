#!/usr/bin/env bash
# The LV2 bundle's Turtle files against the installed LV2 vocabularies, with lv2_validate
# (lilv-utils) and sord_validate (sordi) on its own as well.
#   validate_bundle.sh BUNDLE-FOLDER
set -uo pipefail
bundle=$1
for tool in lv2_validate sord_validate; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (Debian: lilv-utils, sordi)"
    exit 77
  fi
done

# Both must report no error and no warning.
check() {
  local output
  output=$("$@" 2>&1)
  local status=$?
  if [[ $status -ne 0 ]] || grep -qiE "^error|warning" <<<"$output"; then
    echo "$output" | grep -v "^Skipping"
    return 1
  fi
  grep "Found" <<<"$output"
}
check lv2_validate "$bundle"/*.ttl || exit 1
# Every vocabulary installed, not only those lv2_validate names; other plugins' bundles are no
# vocabulary (and not ours to judge).
vocabularies=$(grep -lE "lv2:Specification|owl:Ontology" /usr/lib/lv2/*/manifest.ttl |
  xargs -n 1 dirname | xargs -I{} find {} -maxdepth 1 -name '*.ttl')
# shellcheck disable=SC2086 # one argument per vocabulary file
check sord_validate $vocabularies "$bundle"/*.ttl || exit 1
