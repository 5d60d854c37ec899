#!/bin/sh
# A copy of a 256 MiB file across file systems through the library's
# direct-I/O path (CoFilePath::copyTo, as a move across file systems makes
# it) against cp of the same file: medians of rounds interleaved so that
# machine noise hits all alike, and their ratios. Two directions:
#  - tmpfs to the disk the build is on. cp returns with the data still in
#    the page cache, the direct copy with it written, so cp followed by a
#    sync of its file is measured too: that is the same work.
#  - the disk to tmpfs, the source evicted from the page cache before every
#    copy, so that both read it from the disk.
# The direct copy runs with its default buffer (4 MiB) and with 1 MiB.
# Needs root: the tmpfs is mounted in a private mount namespace.
# Usage: bench/cross_fs_copy.sh [ROUNDS]
set -e
ROUNDS="${1:-5}"
[ "$(id -u)" = 0 ] || { echo "$0: needs root, to mount a tmpfs" >&2; exit 1; }
if [ -z "$CORVANE_BENCH_NS" ]; then
  exec unshare -m env CORVANE_BENCH_NS=1 sh "$0" "$@"
fi
mount --make-rprivate /
cd "$(dirname "$0")/.."
cmake --build build --target dio_copy spawn_timer >/dev/null
WORK="$(mktemp -d "$(pwd)/build/cross-fs-copy.XXXXXX")"
trap 'umount "$WORK/tmpfs" 2>/dev/null; rm -rf "$WORK"' EXIT
mkdir "$WORK/tmpfs" "$WORK/disk"
mount -t tmpfs -o size=600m corvane-bench "$WORK/tmpfs"
TMPFS="$WORK/tmpfs"
DISK="$WORK/disk"
dd if=/dev/urandom of="$DISK/src" bs=1M count=256 status=none
cp "$DISK/src" "$TMPFS/src"
sync

T="$(pwd)/build/bin/bench/spawn_timer"
DIO="$(pwd)/build/bin/bench/dio_copy"
# One timed run of a copy to $2; the copy is removed and the disk settled
# (deleted blocks discarded) before the next.
timed() {
  to="$1"; shift
  t=$("$T" 1 "$@")
  rm -f "$to"; sync
  echo "$t"
}
evict() { dd if="$DISK/src" iflag=nocache count=0 status=none; }
up_cp="" ; up_sync="" ; up_dio="" ; up_dio1="" ; down_cp="" ; down_dio="" ; down_dio1=""
for _ in $(seq "$ROUNDS"); do
  up_cp="$up_cp $(timed "$DISK/dst" /bin/cp "$TMPFS/src" "$DISK/dst")"
  up_dio="$up_dio $(timed "$DISK/dst" "$DIO" "$TMPFS/src" "$DISK/dst")"
  up_sync="$up_sync $(timed "$DISK/dst" /bin/sh -c "cp '$TMPFS/src' '$DISK/dst' && sync '$DISK/dst'")"
  up_dio1="$up_dio1 $(XQ_DIO_OPTIMAL_CHUNK_SIZE=1048576 timed "$DISK/dst" "$DIO" "$TMPFS/src" "$DISK/dst")"
  evict; down_cp="$down_cp $(timed "$TMPFS/dst" /bin/cp "$DISK/src" "$TMPFS/dst")"
  evict; down_dio="$down_dio $(timed "$TMPFS/dst" "$DIO" "$DISK/src" "$TMPFS/dst")"
  evict; down_dio1="$down_dio1 $(XQ_DIO_OPTIMAL_CHUNK_SIZE=1048576 timed "$TMPFS/dst" "$DIO" "$DISK/src" "$TMPFS/dst")"
done
median() { echo "$@" | tr ' ' '\n' | grep . | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
show() { awk -v n="$1" -v t="$2" -v c="$3" 'BEGIN { printf "%-34s %8.0f ms  ratio %.2f\n", n, t / 1000, t / c }'; }
C=$(median $up_cp); S=$(median $up_sync)
echo "256 MiB, median of $ROUNDS rounds; ratios against the first line of each block"
show "tmpfs -> disk: cp" "$C" "$C"
show "tmpfs -> disk: cp + sync" "$S" "$C"
show "tmpfs -> disk: direct, 4 MiB" "$(median $up_dio)" "$C"
show "tmpfs -> disk: direct, 1 MiB" "$(median $up_dio1)" "$C"
echo "  against cp + sync (the same work): direct 4 MiB $(median $up_dio | awk -v s="$S" '{printf "%.2f", $1 / s}')," \
     "1 MiB $(median $up_dio1 | awk -v s="$S" '{printf "%.2f", $1 / s}')"
D=$(median $down_cp)
show "disk (cold) -> tmpfs: cp" "$D" "$D"
show "disk (cold) -> tmpfs: direct, 4 MiB" "$(median $down_dio)" "$D"
show "disk (cold) -> tmpfs: direct, 1 MiB" "$(median $down_dio1)" "$D"
