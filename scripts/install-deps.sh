#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the GUI need; quiet when all are there.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-svg-dev libqt6svg6 qt6-translations-l10n
  nlohmann-json3-dev libusb-1.0-0-dev
  fonts-ipafont-gothic fonts-ipafont-mincho fontconfig
  xvfb xauth poppler-utils xdg-user-dirs xdg-utils unzip zip
  dpkg-dev desktop-file-utils appstream lintian
  clang-14 libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
