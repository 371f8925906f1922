#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
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
# The LV2 vocabularies themselves (lv2-dev), not the Turtle of whatever other plugins the
# machine has installed, which need not validate.
vocabularies=$(dpkg-query -L lv2-dev | grep '^/usr/lib/lv2/[^/]*/[^/]*\.ttl$')
# shellcheck disable=SC2086 # one argument per vocabulary file
check sord_validate $vocabularies "$bundle"/*.ttl || exit 1
