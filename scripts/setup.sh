#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need. Safe to run again:
# it does nothing when every package and the ja_JP.UTF-8 locale are present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build g++-multilib lib32asan8 lib32ubsan1 libc6-dev-i386
  g++-mingw-w64-i686 mingw-w64-tools binutils-mingw-w64-i686
  wine wine32:i386 xvfb xdotool x11-utils imagemagick
  googletest locales icoutils liblnk-utils libxml2-utils fonts-ipafont-gothic
  bzip2 xz-utils gzip valgrind gdb python3 qemu-user-static ccache shared-mime-info
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
have_locale() { locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; }

if [ ${#missing[@]} -eq 0 ] && have_locale; then
  exec bash "$(dirname "$0")/i386-exec.sh" >/dev/null
fi

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if ! have_locale; then
  echo "setup: generating ja_JP.UTF-8"
  if ! grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  $SUDO locale-gen ja_JP.UTF-8 >/dev/null
fi

exec bash "$(dirname "$0")/i386-exec.sh" >/dev/null
