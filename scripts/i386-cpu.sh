#!/usr/bin/env bash
# Runs a command with every i386 program it starts (Wine included) emulated
# as the given processor model, a Pentium II (no SSE) or a Pentium III (SSE,
# no SSE2) for instance:
#   i386-cpu.sh MODEL COMMAND [ARGS...]
# Where the kernel runs i386 programs itself, the command runs in a user and
# mount namespace of its own with a private binfmt_misc that hands them to
# qemu (Linux 6.7 and later give each user namespace its own): nothing
# outside the command is emulated, and the machine's own registration is not
# touched. Where they are emulated already (scripts/i386-exec.sh), qemu
# takes the model from QEMU_CPU. Either way a probe first checks that the
# model's features are what i386 programs see, so a run that is not emulated
# as asked fails instead of passing on the host's processor.
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: i386-cpu.sh MODEL COMMAND [ARGS...]" >&2; exit 2; }
model=$1
shift
export QEMU_CPU=$model
# LeakSanitizer cannot run under qemu's user-mode emulation (it spins at
# exit): leaks are looked for in the native runs.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0

qemu=
for q in /usr/bin/qemu-i386-static /usr/bin/qemu-i386; do
  [ -x "$q" ] && { qemu=$q; break; }
done
[ -n "$qemu" ] || { echo "i386-cpu: no qemu-i386 is installed (scripts/setup.sh installs it)" >&2; exit 1; }
grep -qw -- "$model" <<<"$("$qemu" -cpu help)" || { echo "i386-cpu: qemu knows no processor model '$model'" >&2; exit 2; }

# What the model offers, from qemu itself, against what a program sees.
probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
cat >"$probe_dir/probe.c" <<'C'
#include <cpuid.h>
#include <stdio.h>
int main(void) {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return 1;
    printf("mmx=%d sse=%d sse2=%d\n", !!(d & bit_MMX), !!(d & bit_SSE), !!(d & bit_SSE2));
    return 0;
}
C
gcc -m32 -O2 -o "$probe_dir/probe" "$probe_dir/probe.c"
expected=$("$qemu" -cpu "$model" "$probe_dir/probe")

if [ "${HVB_I386_CPU_INSIDE:-}" != "$model" ]; then
  misc=/proc/sys/fs/binfmt_misc
  if [ -e "$misc/qemu-i386" ] && grep -qx enabled "$misc/qemu-i386"; then
    seen=$("$probe_dir/probe")
  else
    # Re-enter this script inside the namespace, where the registration is made.
    export HVB_I386_CPU_INSIDE=$model HVB_I386_CPU_QEMU=$qemu
    exec unshare --user --map-root-user --mount -- bash -c '
      misc=/proc/sys/fs/binfmt_misc
      mount -t binfmt_misc binfmt_misc "$misc" 2>/dev/null ||
        { echo "i386-cpu: this kernel gives a user namespace no binfmt_misc of its own (Linux 6.7 or later does)" >&2; exit 1; }
      # ELF, 32-bit, little-endian, executable or shared object, machine 3 (i386).
      printf "%s" ":qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$HVB_I386_CPU_QEMU:F" >"$misc/register"
      exec "$0" "$@"' "$0" "$model" "$@"
  fi
else
  seen=$("$probe_dir/probe")
fi
[ "$seen" = "$expected" ] ||
  { echo "i386-cpu: i386 programs see '$seen', not the $model's '$expected'" >&2; exit 1; }
echo "i386-cpu: running as $model ($seen)" >&2
rm -rf "$probe_dir"
trap - EXIT
exec "$@"
