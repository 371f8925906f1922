#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The manual pages as man-db and lintian read them: a NAME section lexgrog understands, no
# formatting warnings, and every option of quillfern-render's --help described in its page.
# Usage: check_man_pages.sh RENDERER MAN_DIR   (pages as PAGE.1 or, installed, PAGE.1.gz)
set -eu
renderer=$1
man_dir=$2
fail() {
  echo "$*" >&2
  exit 1
}

page_file() {
  for candidate in "$man_dir/$1.1" "$man_dir/$1.1.gz"; do
    [ -f "$candidate" ] && echo "$candidate" && return
  done
  fail "no manual page $1(1) in $man_dir"
}

for name in quillfern quillfern-render; do
  page=$(page_file "$name")
  lexgrog "$page" >/dev/null || fail "lexgrog finds no NAME section in $page"
  # The same call lintian makes to find formatting problems.
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page: $warnings"
done

render_page=$(zcat -f "$(page_file quillfern-render)")
for option in $("$renderer" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  printf '%s\n' "$render_page" | grep -q -F -- "\\fB$option\\fR" ||
    fail "quillfern-render(1) does not describe $option"
done
