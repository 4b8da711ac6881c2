# Sourced by tests/wine-run.sh and build.sh, with CORVANE_CACHE set to the
# project's cache folder: where 32-bit programs run under QEMU's user-mode
# emulation, every 32-bit Wine process gets the trap-number fix preloaded
# (qemu_trap_number.c, built there by ./build.sh setup). The 64-bit twin is an
# empty library, for the host's own programs, which see the same variable.
qemu_trap_number_dir="$CORVANE_CACHE/qemu-trap-number"
if [ -z "${QEMU_SET_ENV:-}" ] && [ -f "$qemu_trap_number_dir/lib/i386-linux-gnu/qemu_trap_number.so" ] &&
   grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386; then
  export QEMU_SET_ENV="LD_PRELOAD=$(cd "$qemu_trap_number_dir" && pwd)/\$LIB/qemu_trap_number.so"
fi
