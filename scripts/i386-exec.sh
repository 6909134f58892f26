#!/usr/bin/env bash
# Makes 32-bit x86 Linux programs runnable and prints how: "native" where the
# kernel runs them itself, "emulated" where it cannot (a kernel without IA-32
# emulation, as some virtual machines have) and each i386 program runs under
# qemu's user-mode emulation through binfmt_misc instead. Safe to run again.
# HVB_REREGISTER=1 replaces an existing registration (a newer qemu was just
# installed: the registration holds the binary that was opened when it was
# made); HVB_EMULATE_I386=1 registers the emulator where the kernel would run
# the programs itself, to try that road.
#
# Wine runs under the emulation too, given a current qemu (scripts/setup.sh
# installs one).
set -euo pipefail
SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo

misc=/proc/sys/fs/binfmt_misc
entry=$misc/qemu-i386
probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
printf 'int main(void) { return 0; }\n' >"$probe_dir/probe.c"
gcc -m32 -o "$probe_dir/probe" "$probe_dir/probe.c"

qemu=
for q in /usr/bin/qemu-i386-static /usr/bin/qemu-i386; do
  [ -x "$q" ] && { qemu=$q; break; }
done

ours() { grep -qx "interpreter $qemu" "$entry" 2>/dev/null && grep -qx enabled "$entry"; }

if [ "${HVB_REREGISTER:-0}" != 1 ] && { { [ ! -e "$entry" ] && [ "${HVB_EMULATE_I386:-0}" != 1 ]; } || ours; } &&
  "$probe_dir/probe" 2>/dev/null; then
  if [ -e "$entry" ]; then echo emulated; else echo native; fi
  exit 0
fi

[ -n "$qemu" ] || { echo "i386-exec: no qemu-i386 is installed (scripts/setup.sh installs it)" >&2; exit 1; }
[ -e "$misc/register" ] || $SUDO mount -t binfmt_misc binfmt_misc "$misc"
# Another registration for i386 (a package's own, or one of an older qemu)
# would take the programs first.
for e in "$misc"/*; do
  [ -f "$e" ] && [ "$e" != "$misc/register" ] && [ "$e" != "$misc/status" ] || continue
  grep -q '^magic 7f454c4601010100000000000000000002000300' "$e" && echo -1 | $SUDO tee "$e" >/dev/null
done
# ELF, 32-bit, little-endian, executable or shared object, machine 3 (i386);
# F: the interpreter is opened now, so it serves every mount namespace.
printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' | $SUDO tee "$misc/register" >/dev/null
"$probe_dir/probe" || { echo "i386-exec: 32-bit programs cannot run on this machine" >&2; exit 1; }
echo emulated
