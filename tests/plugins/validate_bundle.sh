#!/usr/bin/env bash
# The LV2 bundle's Turtle files against the LV2 specification's own vocabularies, with
# lv2_validate (lv2-dev) and sord_validate (sordi) on its own as well. Other plugins' bundles
# installed beside the specification are none of our business: their Turtle files are left out.
#   validate_bundle.sh BUNDLE-FOLDER
set -uo pipefail
bundle=$1
for tool in lv2_validate sord_validate; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (Debian: lv2-dev, sordi)"
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
# The specification's bundles are those whose manifest declares a specification or an ontology.
spec_bundles=$(grep -lE '\ba +(lv2:Specification|owl:Ontology)\b' /usr/lib/lv2/*/manifest.ttl |
  xargs -r -n 1 dirname)
# shellcheck disable=SC2086 # one argument per bundle folder
vocabularies=$(find $spec_bundles -maxdepth 1 -name '*.ttl')
# shellcheck disable=SC2086 # one argument per vocabulary file
check sord_validate $vocabularies "$bundle"/*.ttl || exit 1
