#!/bin/sh
# qemu-ns.sh COMMAND [ARGS...]
# Runs COMMAND in a private user and mount namespace whose own binfmt_misc
# hands 32-bit x86 programs to qemu-i386: on a machine whose kernel runs no
# 32-bit code (ia32 emulation off), Wine's 32-bit loader and server then run
# emulated. Nothing outside the namespace changes. Needs qemu-i386 (Debian's
# qemu-user) and a kernel that allows binfmt_misc in a user namespace
# (Linux 6.7 on). Emulated, user-space code runs several times slower than
# natively, system calls at native speed: timings are not native ones.
set -eu
if [ "${KD_QEMU_NS_INSIDE:-}" != 1 ]; then
    command -v qemu-i386 >/dev/null 2>&1 || { echo "qemu-ns.sh: qemu-i386 is not installed" >&2; exit 77; }
    KD_QEMU_NS_INSIDE=1 exec unshare --user --map-root-user --mount --fork "$0" "$@"
fi
mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
# The i386 ELF magic and mask that Debian's qemu-user-binfmt registers.
printf '%s' ":qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$(command -v qemu-i386):F" \
    >/proc/sys/fs/binfmt_misc/register
exec "$@"
