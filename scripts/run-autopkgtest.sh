#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs debian/tests on the built packages with autopkgtest's chroot runner, the chroot being a
# copy-on-write view of this very system (an overlay over /, in a mount namespace of its own):
# the packages and the tests' dependencies are installed there and vanish with it. It needs
# neither a network nor a prepared image, and leaves this system, which other builds share, as
# it was. Exits 77 with the reason when it cannot run here.
#   run-autopkgtest.sh QUILLFERN.changes
# The whole log goes to autopkgtest.log beside the .changes; the tests' results are printed.
set -euo pipefail
changes=$(realpath "$1")
log=$(dirname "$changes")/autopkgtest.log
skip() {
  echo "SKIP: autopkgtest: $*"
  exit 77
}

command -v autopkgtest >/dev/null || skip "not installed (Debian: autopkgtest)"
[[ $(id -u) -eq 0 ]] || skip "the chroot runner and the overlay it runs on need root"

scratch=$(mktemp -d)
trap 'rm -rf --one-file-system "$scratch"' EXIT
mkdir "$scratch/upper" "$scratch/work" "$scratch/root"

# The mounts live and die with the namespace; none is seen outside it.
status=0
unshare --mount --propagation private bash -s "$scratch" "$changes" >"$log" 2>&1 <<'NAMESPACE' || status=$?
set -euo pipefail
scratch=$1
changes=$2
root=$scratch/root
mount -t overlay overlay -o "lowerdir=/,upperdir=$scratch/upper,workdir=$scratch/work" "$root" ||
  { echo "SKIP: autopkgtest: no overlay mount is allowed here"; exit 77; }
mount --rbind /dev "$root/dev"
mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount -t tmpfs tmpfs "$root/tmp"
mount -t tmpfs tmpfs "$root/run"
# autopkgtest: 0 all passed, 2 some skipped, 8 no test ran; anything else is a failure.
result=0
autopkgtest --quiet "$changes" -- chroot "$root" || result=$?
case $result in 0 | 2) exit 0 ;; 8) echo "autopkgtest ran no test"; exit 1 ;; *) exit "$result" ;; esac
NAMESPACE
grep -E '^SKIP: |^[a-z0-9.+-]+ +(PASS|FAIL|SKIP|flaky)' "$log" || true
if [[ $status -ne 0 && $status -ne 77 ]]; then
  tail -n 30 "$log"
  echo "autopkgtest failed; the whole log is $log"
fi
exit "$status"
