#!/usr/bin/env bash
# Installs the Debian packages the project needs, skipping those present.
# Uses sudo when not run as root.  Further package names given as arguments
# are installed too (tools that only some scripts use).
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  googletest libgtest-dev
  qt6-base-dev qt6-translations-l10n zlib1g-dev
  pxlib-dev p7zip-full zip unzip python3 strace
  libsqlite3-dev
)
packages+=("$@")

missing=()
for pkg in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
