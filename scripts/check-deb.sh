#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What `make deb-check` checks: the source and binary packages built together, lintian-clean
# at warnings; both binary packages unpacked into a scratch root and run from there, the
# plugins' package without Qt, PortAudio or JACK; debian/tests through autopkgtest; and the
# build tree's home-folder install as LV2 and CLAP hosts find it.
#   check-deb.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}

results=$(scripts/build-deb.sh "$build_dir" full)
echo "dpkg-buildpackage: ${SECONDS} s"
changes=$(grep '\.changes$' <<<"$results")
program_deb=$(grep '/quillfern_[^/]*\.deb$' <<<"$results")
plugins_deb=$(grep '/quillfern-plugins_[^/]*\.deb$' <<<"$results")

lintian --fail-on error,warning "$changes"
echo "lintian: the source package and both binary packages are clean"
tests/packaging/deb_install_test.sh "$program_deb" "$plugins_deb"
echo "install test: both packages run from a scratch root"

status=0
started=$SECONDS
scripts/run-autopkgtest.sh "$changes" || status=$?
case $status in
  0) echo "autopkgtest: passed in $((SECONDS - started)) s" ;;
  77) echo "autopkgtest: skipped (the reason is above)" ;;
  *) exit "$status" ;;
esac

ctest --test-dir "$build_dir" --output-on-failure -R '^packaging\.home_install$' >"$build_dir/deb/home_install.log" ||
  { cat "$build_dir/deb/home_install.log"; exit 1; }
echo "home install: found by lv2ls and our CLAP host"
