#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages Quillfern needs to build (with --package, also to build and
# check its Debian package; with --test, to run its whole test suite and the package's
# checks), skipping those already present. Uses sudo when not run as root, after saying what it
# installs and why; apt-get waits up to 10 minutes for another package tool to finish.
set -euo pipefail

build_packages=(
  cmake g++ make pkg-config ninja-build python3
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libgl-dev libxcb1-dev
  portaudio19-dev librtmidi-dev libsndfile1-dev libjack-jackd2-dev libasound2-dev
  librsvg2-bin scdoc
  dpf-source lv2-dev liblilv-dev libcairo2-dev libx11-dev
)
test_packages=(
  jackd2 libasound2-plugins alsa-utils
  xvfb openbox xdotool wmctrl x11-utils fonts-dejavu-core
  dbus-x11 dbus-daemon at-spi2-core python3-pyatspi imagemagick python3-numpy
  clang-22 libclang-rt-22-dev clang-tidy-22 cppcheck
  lilv-utils sordi jalv qtractor ardour
  sox ffmpeg valgrind pulseaudio-utils pipewire-bin
  appstream desktop-file-utils man-db
)
package_packages=(build-essential debhelper dpkg-dev lintian autopkgtest)

wanted=("${build_packages[@]}")
purpose="to build Quillfern"
if [[ "${1:-}" == "--test" ]]; then
  wanted+=("${test_packages[@]}" "${package_packages[@]}")
  purpose="to build Quillfern and run its tests"
elif [[ "${1:-}" == "--package" ]]; then
  wanted+=("${package_packages[@]}")
  purpose="to build Quillfern's Debian packages"
fi

missing=()
for package in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
echo "These Debian packages, needed $purpose, are missing: ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then
  sudo=(sudo -E)
  echo "Installing them with apt-get through sudo, which may ask for your password."
fi
export DEBIAN_FRONTEND=noninteractive
wait_for_lock=(-o DPkg::Lock::Timeout=600)
"${sudo[@]}" apt-get "${wait_for_lock[@]}" update -qq
"${sudo[@]}" apt-get "${wait_for_lock[@]}" install -y -qq --no-install-recommends "${missing[@]}"
