#!/usr/bin/env bash
# Makes 32-bit x86 Linux programs runnable and prints how: "native" where the
# kernel runs them itself, "emulated" where it cannot (a kernel without IA-32
# emulation, as some virtual machines have) and each i386 program runs under
# qemu-i386 through binfmt_misc instead. Safe to run again.
#
# Under emulation the host tests still run, but Wine cannot: its 32-bit loader
# does not come up under qemu's user-mode emulation, so the win32 target is
# built and its tests are not run (scripts/check.sh says so).
set -euo pipefail

probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
printf 'int main(void) { return 0; }\n' >"$probe_dir/probe.c"
gcc -m32 -o "$probe_dir/probe" "$probe_dir/probe.c"

if "$probe_dir/probe" 2>/dev/null; then
  if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then echo emulated; else echo native; fi
  exit 0
fi

misc=/proc/sys/fs/binfmt_misc
qemu=/usr/bin/qemu-i386-static
[ -x "$qemu" ] || { echo "i386-exec: $qemu is missing (scripts/setup.sh installs it)" >&2; exit 1; }
[ -e "$misc/register" ] || mount -t binfmt_misc binfmt_misc "$misc"
if [ ! -e "$misc/qemu-i386" ]; then
  # ELF, 32-bit, little-endian, executable or shared object, machine 3 (i386);
  # F: the interpreter is opened now, so it serves every mount namespace.
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' >"$misc/register"
fi
"$probe_dir/probe" || { echo "i386-exec: 32-bit programs cannot run on this machine" >&2; exit 1; }
echo emulated
