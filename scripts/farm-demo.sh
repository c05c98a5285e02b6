#!/usr/bin/env bash
# A plate split across a render farm, on a one-node Slurm cluster on this machine: installs
# slurm-wlm and munge when missing (Debian, as root), starts munged, slurmctld and slurmd with a
# configuration of their own in a scratch folder (nothing in /etc/slurm is touched), submits one
# array task per strip (framemeld --rows) and a merge job that waits for them all
# (--dependency=afterok), and checks that the merged plate is byte for byte the single run's.
# The daemons are stopped on every exit.
#
#   bash scripts/farm-demo.sh [FRAMEMELD]     (default: build/ci/cli/framemeld)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
framemeld=$(realpath "${1:-$root/build/ci/cli/framemeld}")
[[ -x $framemeld ]] || { echo "farm-demo: no framemeld at $framemeld; build it first" >&2; exit 1; }
[[ $(id -u) -eq 0 ]] || { echo "farm-demo: run as root (it installs and starts daemons)" >&2; exit 1; }
started=$(date +%s)

if ! command -v slurmctld >/dev/null || ! command -v munged >/dev/null; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq slurm-wlm munge >/dev/null
fi

work=$(mktemp -d /tmp/farm-demo.XXXXXX)
chmod 755 "$work"
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# munge: a key of its own, and a daemon on a socket of its own.
mkdir -p "$work/munge"
chown munge:munge "$work/munge"
chmod 711 "$work/munge" # the socket must be reachable by every user
mungekey --create --keyfile="$work/munge/munge.key" --force
chown munge:munge "$work/munge/munge.key"
socket=$work/munge/munge.socket
runuser -u munge -- munged --foreground --key-file="$work/munge/munge.key" \
    --socket="$socket" --pid-file="$work/munge/munged.pid" --seed-file="$work/munge/seed" \
    --log-file="$work/munge/munged.log" 2>>"$work/daemons.log" &
pids+=($!)
for _ in $(seq 50); do
    [[ -S $socket ]] && break
    sleep 0.1
done

cpus=2
mkdir -p "$work/state" "$work/spool"
export SLURM_CONF=$work/slurm.conf
cat >"$SLURM_CONF" <<CONF
ClusterName=framemeld-demo
SlurmctldHost=localhost
SlurmctldPort=16817
SlurmdPort=16818
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$socket
CredType=cred/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
NodeName=localhost NodeHostname=$(hostname) CPUs=$cpus State=UNKNOWN
PartitionName=demo Nodes=localhost Default=YES MaxTime=INFINITE State=UP
CONF
slurmctld -D -i -f "$SLURM_CONF" 2>>"$work/daemons.log" &
pids+=($!)
slurmd -D -N localhost -f "$SLURM_CONF" 2>>"$work/daemons.log" &
pids+=($!)
for _ in $(seq 100); do
    timeout 5 sinfo -h -o %T 2>/dev/null | grep -qx idle && break
    sleep 0.2
done
sinfo -h -o %T | grep -qx idle || { echo "farm-demo: the node did not come up" >&2; cat "$work"/*.log >&2; exit 1; }

# Footage: 24 frames of 480x270, a gradient with a block passing through it.
clip=$work/clip
mkdir "$clip"
python3 - "$clip" <<'PY'
import struct, sys, zlib
def png(path, w, h, frame):
    rows = []
    for y in range(h):
        row = bytearray(b"\0")
        for x in range(w):
            inside = frame * 20 <= x < frame * 20 + 60 and 80 <= y < 180
            row += bytes((200, 40, 30) if inside else ((x + y) % 256, y % 256, (x * 3 + frame) % 7 + 90))
        rows.append(bytes(row))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(b"".join(rows))) + chunk(b"IEND", b""))
for frame in range(24):
    png(f"{sys.argv[1]}/shot.{1001 + frame:04d}.png", 480, 270, frame)
PY

out=$work/out
mkdir "$out"
settings=(--divergence 4 --threads 1 -q)
rows=(0:100 100:190 190:270)
cat >"$work/strip.sh" <<JOB
#!/usr/bin/env bash
rows=(${rows[*]})
exec "$framemeld" '$clip/shot.####.png' -o "$out/strip\$SLURM_ARRAY_TASK_ID.png" \
    --rows "\${rows[\$SLURM_ARRAY_TASK_ID]}" ${settings[*]}
JOB
array=$(sbatch --parsable --array=0-$((${#rows[@]} - 1)) --cpus-per-task=1 \
    --output="$out/strip-%a.log" "$work/strip.sh")
strips=()
for i in "${!rows[@]}"; do
    strips+=("$out/strip$i.png")
done
# --wait: sbatch returns when the merge job ends, with its exit status.
sbatch --parsable --wait --dependency=afterok:"$array" --output="$out/merge.log" \
    --wrap="'$framemeld' merge -o '$out/merged.png' ${strips[*]}" >/dev/null || {
    echo "farm-demo: the merge job failed" >&2
    cat "$out"/*.log >&2
    exit 1
}
cat "$out/merge.log"

"$framemeld" "$clip/shot.####.png" -o "$out/single.png" "${settings[@]}"
cmp "$out/single.png" "$out/merged.png"
echo "farm-demo: ${#rows[@]} strips on Slurm merged into the single run's plate, byte for byte," \
    "in $(($(date +%s) - started)) s"
