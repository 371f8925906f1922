#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The desktop entry and the AppStream metainfo as software centres read them: both valid, and
# naming the same entry, program and icon; the metainfo's newest release is VERSION. The
# plugins' add-on metainfo: valid, extending the program's component, of the same release and
# project licence.
# Usage: check_metadata.sh DESKTOP_ENTRY METAINFO VERSION ADDON_METAINFO
set -eu
desktop=$1
metainfo=$2
version=$3
addon=$4
fail() {
  echo "$*" >&2
  exit 1
}

problems=$(desktop-file-validate "$desktop" 2>&1) || true
[ -z "$problems" ] || fail "$problems"
for file in "$metainfo" "$addon"; do
  appstreamcli validate --no-net --strict "$file" >/dev/null ||
    fail "$(appstreamcli validate --no-net --strict "$file")"
done

entry() { sed -n "s/^$1=//p" "$desktop"; }
element() { sed -n "s:.*<$1[^>]*>\(.*\)</$1>.*:\1:p" "${2:-$metainfo}"; }

[ "$(element launchable)" = "$(basename "$desktop")" ] ||
  fail "the metainfo launches $(element launchable), not $(basename "$desktop")"
program=$(entry Exec | cut -d' ' -f1)
element binary | grep -q -x -F "$program" ||
  fail "the entry runs $program, which the metainfo does not provide"
[ "$(element icon)" = "$(entry Icon)" ] ||
  fail "the entry's icon $(entry Icon) is not the metainfo's $(element icon)"
for file in "$metainfo" "$addon"; do
  newest=$(sed -n 's:.*<release version="\([^"]*\)".*:\1:p' "$file" | head -n 1)
  [ "$newest" = "$version" ] || fail "$file: the newest release is $newest, not $version"
  [ "$(element project_license "$file")" = GPL-3.0-or-later ] ||
    fail "$file: the project licence is not GPL-3.0-or-later"
done
[ "$(element extends "$addon")" = "$(element id)" ] ||
  fail "the plugins' metainfo extends $(element extends "$addon"), not $(element id)"
