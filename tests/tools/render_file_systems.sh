#!/usr/bin/env bash
# quillfern-render on real file systems, as root: a full disk for every format, a render killed
# half-way, every signal that ends a render where no unnamed file can be made, and what a
# replaced file keeps, in folders with the sticky bit or that take no new file. Runs in a mount
# namespace of its own, so that nothing it mounts outlives it.
# Usage: render_file_systems.sh RENDERER
set -u
renderer=$1
if [[ $(id -u) -ne 0 ]] || ! id nobody >/dev/null 2>&1 || ! unshare -m true 2>/dev/null; then
  echo "skipped: needs root, the user nobody and a mount namespace"
  exit 77
fi
[[ -n ${QUILLFERN_NAMESPACE:-} ]] || exec env QUILLFERN_NAMESPACE=1 unshare -m "$0" "$@"

work=$(mktemp -d)
trap 'umount "$work"/* 2>/dev/null; rm -rf "$work"' EXIT
chmod 755 "$work"
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; }
# A folder of its own on a tmpfs of SIZE.
tmpfs() { mkdir "$work/$1" && mount -t tmpfs -o "size=$2,mode=777" none "$work/$1"; }
printf '0 midi 90 57 100\n132300 midi 80 57 0\n220500 end\n' >"$work/note.score"
printf '0 midi 90 57 100\n158760000 end\n' >"$work/hour.score"

# A full disk: each format fails at once, with exit 1, and the old file stays as it was. The
# hour of sound would take a second or more to render; 60 s is a guard, not a measure.
tmpfs full 1m
for format in wav flac ogg opus mp3; do echo old >"$work/full/song.$format"; done
for format in wav flac ogg opus mp3; do
  timeout 60 "$renderer" "$work/hour.score" -o "$work/full/song.$format" 2>"$work/errors"
  code=$?
  [[ $code == 1 ]] || fail "$format onto a full disk: exit code $code"
  grep -q "No space left on device" "$work/errors" || fail "$format: $(cat "$work/errors")"
  [[ $(cat "$work/full/song.$format") == old ]] || fail "$format: the old file was replaced"
done
[[ $(ls -A "$work/full" | wc -l) == 5 ]] || fail "a full disk left: $(ls -A "$work/full")"

# SIGKILL half-way, once megabytes are written: nothing new anywhere in the folder, and the
# space is free again.
tmpfs killed 512m
before=$(df --output=used "$work/killed" | tail -1)
"$renderer" "$work/hour.score" -o "$work/killed/song.wav" --plot "$work/killed/song.svg" 2>/dev/null &
for _ in $(seq 1000); do
  sizes=$(find -L /proc/$!/fd -maxdepth 1 -size +10M 2>/dev/null | wc -l)
  [[ $sizes -gt 0 ]] && break
  sleep 0.01
done
kill -KILL $!
wait $! 2>/dev/null
[[ -z $(ls -A "$work/killed") ]] || fail "SIGKILL left: $(ls -A "$work/killed")"
[[ $(df --output=used "$work/killed" | tail -1) == "$before" ]] || fail "SIGKILL kept the space"

# What a replaced file keeps: its owner, group and mode, the set-user bit too.
tmpfs kept 16m
echo old >"$work/kept/theirs.wav"
chown nobody:nogroup "$work/kept/theirs.wav"
chmod 640 "$work/kept/theirs.wav"
"$renderer" "$work/note.score" -o "$work/kept/theirs.wav" 2>/dev/null
[[ $(stat -c '%U:%G %a' "$work/kept/theirs.wav") == "nobody:nogroup 640" ]] ||
  fail "root replacing nobody's file: $(stat -c '%U:%G %a' "$work/kept/theirs.wav")"
echo old >"$work/kept/own.wav"
chown nobody:nogroup "$work/kept/own.wav"
chmod 4751 "$work/kept/own.wav"
as_nobody "$renderer" "$work/note.score" -o "$work/kept/own.wav" 2>/dev/null
[[ $(stat -c '%a' "$work/kept/own.wav") == 4751 ]] ||
  fail "nobody replacing a set-user file: $(stat -c '%a' "$work/kept/own.wav")"

# Folders that cannot take the finished file are refused before rendering, with the reason.
mkdir -m 1777 "$work/kept/sticky" && mkdir -m 755 "$work/kept/locked"
echo old >"$work/kept/sticky/daemons.wav" && chown daemon "$work/kept/sticky/daemons.wav"
echo old >"$work/kept/locked/nobodys.wav" && chown nobody "$work/kept/locked/nobodys.wav"
chmod 666 "$work/kept/sticky/daemons.wav" "$work/kept/locked/nobodys.wav"
for target in sticky/daemons.wav:"Operation not permitted: in $work/kept/sticky, a folder with \
the sticky bit" locked/nobodys.wav:"Permission denied in its folder $work/kept/locked,"; do
  as_nobody "$renderer" "$work/note.score" -o "$work/kept/${target%%:*}" 2>"$work/errors"
  code=$?
  [[ $code == 2 ]] || fail "${target%%:*}: exit code $code"
  grep -qF "${target#*:}" "$work/errors" || fail "${target%%:*}: $(cat "$work/errors")"
  [[ $(cat "$work/kept/${target%%:*}") == old ]] || fail "${target%%:*} was replaced"
  [[ $(ls -A "$(dirname "$work/kept/${target%%:*}")" | wc -l) == 1 ]] || fail "litter"
done

# Without /proc no unnamed file can be linked into place: a hidden named file is written, and
# every signal that ends the render removes it, as a file-size limit does.
mount -t tmpfs none /proc
tmpfs named 512m
for signal in INT TERM HUP QUIT ABRT SEGV BUS USR1 USR2 ALRM XCPU VTALRM PROF SYS; do
  "$renderer" "$work/hour.score" -o "$work/named/song.wav" 2>/dev/null &
  for _ in $(seq 1000); do
    [[ -n $(ls -A "$work/named") ]] && break
    sleep 0.01
  done
  kill -"$signal" $!
  wait $! 2>/dev/null
  code=$?
  [[ $code == $((128 + $(kill -l "$signal"))) ]] || fail "SIG$signal: exit code $code"
  [[ -z $(ls -A "$work/named") ]] || fail "SIG$signal left: $(ls -A "$work/named")"
done
(ulimit -f 1000 && "$renderer" "$work/hour.score" -o "$work/named/song.wav" 2>"$work/errors")
[[ $? == 1 ]] && grep -q "File too large" "$work/errors" || fail "ulimit -f: $(cat "$work/errors")"
[[ -z $(ls -A "$work/named") ]] || fail "ulimit -f left: $(ls -A "$work/named")"

[[ $failures == 0 ]] && echo "all passed"
exit $((failures > 0))
