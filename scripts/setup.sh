#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need, and makes 32-bit
# x86 programs runnable. Safe to run again: it does nothing when every package,
# the ja_JP.UTF-8 locale and the way to run i386 programs are in place. Prints
# one line saying what it did.
#
# A fresh machine's package index may be stale or half-synced: an index that
# cannot be fetched is retried, then tolerated, and an install that fails on
# versions (an amd64 package newer than its i386 twin) is retried with the
# release's own suite preferred. Where the kernel runs no 32-bit code, i386
# programs run under qemu user-mode emulation (scripts/i386-exec.sh), and the
# qemu must be current: the release's backports suite has one.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

packages=(
  build-essential cmake ninja-build g++-multilib lib32asan8 lib32ubsan1 libc6-dev-i386
  g++-mingw-w64-i686 mingw-w64-tools binutils-mingw-w64-i686
  wine wine32:i386 xvfb xdotool x11-utils imagemagick openbox
  googletest locales icoutils liblnk-utils libxml2-utils fonts-ipafont-gothic
  bzip2 xz-utils gzip zip valgrind gdb python3 ccache shared-mime-info clang libclang-rt-14-dev
)
# The oldest qemu that starts Wine in seconds rather than minutes: older ones
# ignore MAP_FIXED_NOREPLACE, and Wine then probes its address space 64 KiB at
# a time.
qemu_min=10

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
. /etc/os-release
codename=${VERSION_CODENAME:-}
did=()

# Can the kernel run an i386 program itself? A 93-byte static ELF that exits 0
# answers before any compiler is installed. HVB_EMULATE_I386=1 says no.
native_i386() {
  [ "${HVB_EMULATE_I386:-0}" != 1 ] || return 1
  local probe ok=1 entry=/proc/sys/fs/binfmt_misc/qemu-i386
  probe=$(mktemp)
  printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0' >"$probe"
  printf '\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\135\0\0\0\135\0\0\0\5\0\0\0\0\20\0\0' >>"$probe"
  printf '\270\1\0\0\0\61\333\315\200' >>"$probe"
  chmod +x "$probe"
  if ! grep -qx enabled "$entry" 2>/dev/null; then
    "$probe" 2>/dev/null && ok=0
  else
    # A registered emulator would answer for the kernel. A user namespace
    # with a binfmt_misc of its own (Linux 6.7 and later) has none: ask the
    # kernel there, leaving the machine's registration alone.
    local asked
    asked=$(unshare --user --map-root-user --mount -- sh -c \
      'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || exit 3
       [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ] || exit 3
       "$1" 2>/dev/null && echo yes || echo no' sh "$probe" 2>/dev/null) || asked=
    case $asked in
      yes) ok=0 ;;
      no) ;;
      *)
        # Only by switching the registration off for a moment; it is
        # switched on again however this script ends.
        trap 'echo 1 | $SUDO tee "$entry" >/dev/null' EXIT INT TERM
        echo 0 | $SUDO tee "$entry" >/dev/null
        "$probe" 2>/dev/null && ok=0
        echo 1 | $SUDO tee "$entry" >/dev/null
        trap - EXIT INT TERM
        ;;
    esac
  fi
  rm -f "$probe"
  return $ok
}

qemu_major() {  # the version of the installed qemu-i386-static, or 0
  local v
  v=$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null | sed 's/^[0-9]*://; s/[.+~-].*//')
  echo "${v:-0}"
}

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
have_locale() { locale -a 2>/dev/null | grep -qi "^${1%%.*}\\.utf-\\?8\$"; }  # NAME.UTF-8

updated=0
apt_update() {  # retried; a suite whose index stays unfetchable is left as it was
  [ $updated = 0 ] || return 0
  updated=1
  local try errors
  errors=$(mktemp)
  for try in 1 2 3; do
    $SUDO apt-get update -qq -o Acquire::Retries=3 2>"$errors" && { rm -f "$errors"; return 0; }
    sleep $((try * 5))
  done
  echo "setup: the package index could not be fetched whole; going on with what there is:" >&2
  sed 's/^/  /' "$errors" >&2
  rm -f "$errors"
  did+=("tolerated a stale package index")
}

apt_install() {  # packages...: retried with the release's own suite preferred
  $SUDO apt-get install -y -qq --no-install-recommends "$@" && return 0
  [ -n "$codename" ] || return 1
  echo "setup: retrying with $codename's own packages preferred" >&2
  $SUDO apt-get install -y -qq --no-install-recommends -o APT::Default-Release="$codename" "$@"
}

native=1
native_i386 || native=0

missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
# qemu runs every i386 program where the kernel cannot, and the processor
# models without SSE or SSE2 (scripts/i386-cpu.sh) everywhere.
need_qemu=0
[ "$(qemu_major)" -ge $qemu_min ] || need_qemu=1

if [ ${#missing[@]} -gt 0 ] || [ $need_qemu = 1 ]; then
  dpkg --print-foreign-architectures | grep -qx i386 || { $SUDO dpkg --add-architecture i386; did+=("added the i386 architecture"); }
  if [ $need_qemu = 1 ] && [ -n "$codename" ]; then
    # The backports suite from the same archive as the release's own suite.
    list=/etc/apt/sources.list.d/hvb-backports.list
    if [ ! -e "$list" ]; then
      uri=$(apt-get indextargets --no-release-info --format '$(RELEASE) $(REPO_URI)' | awk -v r="$codename" '$1 == r { print $2; exit }')
      [ -n "$uri" ] || { echo "setup: no package source for $codename to take backports from" >&2; exit 1; }
      opts=
      [ -e /usr/share/keyrings/debian-archive-keyring.gpg ] && opts='[signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] '
      echo "deb ${opts}${uri} ${codename}-backports main" | $SUDO tee "$list" >/dev/null
      did+=("added ${codename}-backports")
    fi
  fi
  apt_update
  if [ ${#missing[@]} -gt 0 ]; then
    apt_install "${missing[@]}"
    did+=("installed ${missing[*]}")
  fi
  if [ $need_qemu = 1 ]; then
    $SUDO apt-get install -y -qq --no-install-recommends -t "${codename}-backports" qemu-user-static
    [ "$(qemu_major)" -ge $qemu_min ] || { echo "setup: qemu $qemu_min or later is not to be had (found $(qemu_major))" >&2; exit 1; }
    did+=("installed qemu-user-static $(dpkg-query -W -f='${Version}' qemu-user-static) from backports")
  fi
fi

# Japanese for the product's own runs; English (code page 1252) and Chinese
# (936) for the runs of a system whose code page is not the program's.
locales=()
for l in ja_JP.UTF-8 en_US.UTF-8 zh_CN.UTF-8; do
  have_locale "$l" && continue
  if ! grep -q "^$l UTF-8" /etc/locale.gen 2>/dev/null; then
    echo "$l UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  locales+=("$l")
done
if [ ${#locales[@]} -gt 0 ]; then
  # Without --keep-existing the archive of every locale is removed first, and
  # programs running meanwhile lose theirs.
  $SUDO locale-gen --keep-existing "${locales[@]}" >/dev/null
  did+=("generated ${locales[*]}")
fi

# A qemu installed now replaces whatever emulator was registered before.
reregister=0
[ $native = 1 ] || reregister=$need_qemu
how=$(HVB_REREGISTER=$reregister bash "$here/i386-exec.sh")
if [ ${#did[@]} -eq 0 ]; then
  echo "setup: nothing to do (i386 programs: $how)"
else
  msg=$(printf '%s; ' "${did[@]}")
  echo "setup: ${msg%; } (i386 programs: $how)"
fi
