#!/bin/bash
# sharehost's READ of a large file in 8 KB transfers against plain UDP datagrams
# of the same size between two processes, its GETATTR and LOOKUP rates, and the
# cost of the two ways of making a WRITE durable, all in one run inside a
# network namespace of its own (ports 111 and 2049 are free there).
# Then the same GETATTR and LOOKUP calls (NFS version 3, the same client, UDP)
# against Debian's nfs-ganesha serving the same tree, when it is installed
# (apt-get install nfs-ganesha nfs-ganesha-vfs).
# Usage: bench/nfs/run.sh BIN_DIR [MEGABYTES]   (as root: the server acts as uids)
set -euo pipefail
if [ "${QX_BENCH_NETNS:-}" != 1 ]; then
  exec env QX_BENCH_NETNS=1 unshare -n "$0" "$@"
fi
ip link set lo up
BIN=$(cd "${1:?bin directory}" && pwd)
MB=${2:-1024}
WORK=$(mktemp -d /tmp/qx-bench-nfs-XXXXXX)
chmod 755 "$WORK"
export QX_HOME=$WORK/home QX_MACHINE_DIR=$WORK/machine QX_RUNTIME_DIR=$WORK/run
export QX_WINDOWS_DIR=$WORK/windows QX_DRIVE_D=$WORK/d QX_EVENTLOG_FILE=$WORK/events.txt
PIDS=()
cleanup() {
  "$BIN/qxsc" stop QXNFSServer >/dev/null 2>&1 || true
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  for e in /proc/[0-9]*/environ; do
    if grep -qz "^QX_RUNTIME_DIR=$WORK/run\$" "$e" 2>/dev/null; then p=${e#/proc/}; kill -9 "${p%/environ}" 2>/dev/null || true; fi
  done
  rm -rf "$WORK"
}
trap cleanup EXIT

mkdir -p "$WORK/windows" "$WORK/d/qxnfs" "$WORK/d/ex"
chmod 755 "$WORK/d"
chown 65534:65534 "$WORK/d/ex"  # the bench client comes as nobody
echo 'd:\ex' > "$WORK/windows/exports"
"$BIN/qxreg" set 'HKLM\SOFTWARE\Corvane\NFSClient\CurrentVersion' 'Installation Directory' REG_SZ 'D:\qxnfs' >/dev/null
head -c "${MB}M" /dev/urandom > "$WORK/d/ex/big"
chmod 644 "$WORK/d/ex/big"
"$BIN/qxsc" create QXNFSServer "$BIN/sharehost" >/dev/null
"$BIN/qxsc" start QXNFSServer /t:8192 >/dev/null
for _ in $(seq 50); do grep -q 'id=4 ' "$WORK/events.txt" 2>/dev/null && break; sleep 0.1; done

BYTES=$((MB * 1024 * 1024))
ROUNDS=${QX_BENCH_ROUNDS:-5}
echo "READ of a ${MB} MB file in 8 KB transfers, one call at a time, against plain UDP (a 100-byte"
echo "request, an 8292-byte reply: the READ reply's size, between two processes), in turns, $ROUNDS rounds:"
RATIOS=()
for round in $(seq "$ROUNDS"); do
  read_line=$("$BIN/nfs_bench" read /d/ex big "$BYTES")
  udp_line=$("$BIN/nfs_bench" udp 8292 "$BYTES")
  ratio=$(awk -v r="$(awk '{print $2}' <<<"$read_line")" -v u="$(awk '{print $2}' <<<"$udp_line")" \
    'BEGIN { printf "%.2f", r / u }')
  RATIOS+=("$ratio")
  echo "  round $round: $read_line; $udp_line; ratio $ratio"
done
echo "READ / plain UDP, median of $ROUNDS: $(printf '%s\n' "${RATIOS[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')"
echo "GETATTR and LOOKUP, one call at a time:"
"$BIN/nfs_bench" getattr /d/ex 50000
"$BIN/nfs_bench" lookup /d/ex big 50000
echo "WRITE of 64 MB in 8 KB transfers (each on disk before its reply):"
"$BIN/nfs_bench" write /d/ex written $((64 * 1024 * 1024))
echo "a durable 8 KB write on the export's file system:"
"$BIN/nfs_bench" sync "$WORK/d/ex" 500

"$BIN/qxsc" stop QXNFSServer >/dev/null
if ! command -v ganesha.nfsd >/dev/null; then
  echo "nfs-ganesha is not installed: no comparison (apt-get install nfs-ganesha nfs-ganesha-vfs)"
  exit 0
fi
cat > "$WORK/ganesha.conf" <<CONF
NFS_CORE_PARAM { Protocols = 3; NFS_Port = 2049; MNT_Port = 20048; Enable_NLM = false; Enable_RQUOTA = false; }
NFSV4 { Graceless = true; }
EXPORT { Export_Id = 1; Path = $WORK/d/ex; Pseudo = /ex; Access_Type = RW; Squash = No_Root_Squash;
         Protocols = 3; Transports = UDP; SecType = sys; FSAL { Name = VFS; } }
LOG { Default_Log_Level = WARN; }
CONF
rpcbind -f -w & PIDS+=($!)
ganesha.nfsd -F -f "$WORK/ganesha.conf" -L "$WORK/ganesha.log" -p "$WORK/ganesha.pid" & PIDS+=($!)
for _ in $(seq 100); do ss -lun | grep -q ':20048 ' && break; sleep 0.1; done
echo "nfs-ganesha $(dpkg-query -W -f '${Version}' nfs-ganesha 2>/dev/null), NFS version 3 over UDP, the same client:"
"$BIN/nfs_bench" getattr3 20048 "$WORK/d/ex" 50000
"$BIN/nfs_bench" lookup3 20048 "$WORK/d/ex" big 50000
