#!/bin/sh
# The desktop entry and the AppStream metainfo as software centres read them: both valid, and
# naming the same entry, program and icon; the metainfo's newest release is VERSION.
# Usage: check_metadata.sh DESKTOP_ENTRY METAINFO VERSION
set -eu
desktop=$1
metainfo=$2
version=$3
fail() {
  echo "$*" >&2
  exit 1
}

problems=$(desktop-file-validate "$desktop" 2>&1) || true
[ -z "$problems" ] || fail "$problems"
appstreamcli validate --no-net --strict "$metainfo" >/dev/null ||
  fail "$(appstreamcli validate --no-net --strict "$metainfo")"

entry() { sed -n "s/^$1=//p" "$desktop"; }
element() { sed -n "s:.*<$1[^>]*>\(.*\)</$1>.*:\1:p" "$metainfo"; }

[ "$(element launchable)" = "$(basename "$desktop")" ] ||
  fail "the metainfo launches $(element launchable), not $(basename "$desktop")"
program=$(entry Exec | cut -d' ' -f1)
element binary | grep -q -x -F "$program" ||
  fail "the entry runs $program, which the metainfo does not provide"
[ "$(element icon)" = "$(entry Icon)" ] ||
  fail "the entry's icon $(entry Icon) is not the metainfo's $(element icon)"
newest=$(sed -n 's:.*<release version="\([^"]*\)".*:\1:p' "$metainfo" | head -n 1)
[ "$newest" = "$version" ] || fail "the metainfo's newest release is $newest, not $version"
