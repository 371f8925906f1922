#!/usr/bin/env bash
# The LV2 bundle's Turtle files against the installed LV2 specifications, with lv2_validate
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
specifications=$(find /usr/lib/lv2 -maxdepth 2 -name '*.ttl')
# shellcheck disable=SC2086 # one argument per specification file
check sord_validate $specifications "$bundle"/*.ttl || exit 1
