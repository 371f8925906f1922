#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A plugin library exports only its format's entry point, resolves every symbol it needs and
# takes in no window toolkit or sound system.
#   check_linkage.sh LIBRARY ENTRY-POINT
set -uo pipefail
library=$1
entry=$2
status=0

exported=$(nm -D --defined-only "$library" | awk '{print $3}')
if [[ "$exported" != "$entry" ]]; then
  echo "$library exports more than $entry:"$'\n'"$exported"
  status=1
fi
unresolved=$(ldd -r "$library" 2>&1 | grep -i "undefined symbol")
if [[ -n "$unresolved" ]]; then
  echo "$library leaves symbols undefined:"$'\n'"$unresolved"
  status=1
fi
dragged=$(ldd "$library" | grep -Ei "qt|gtk|gdk|portaudio|rtmidi|jack")
if [[ -n "$dragged" ]]; then
  echo "$library links libraries a plugin must not:"$'\n'"$dragged"
  status=1
fi
exit $status
