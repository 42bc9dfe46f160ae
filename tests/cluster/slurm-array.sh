#!/usr/bin/env bash
# A batch across a real (single-node) Slurm cluster: starts munged, slurmctld and slurmd from
# Debian's slurm-wlm and munge, configured in a scratch folder with their own ports on loopback,
# renders a folder of takes as three shards of one array job (sbatch --array=1-3 --wait), merges
# the shards' reports, and compares every output with one unsharded batch bit for bit and the
# merged report with that batch's report. The daemons it started are stopped by their process ids
# when it ends, whether it passed or not.
#
#   tests/cluster/slurm-array.sh RENDERER
#
# Needs root (slurmd runs jobs as their user) and ffmpeg for the takes; exits 77 (skipped) when
# not run as root.
set -euo pipefail
renderer="$(realpath "$1")"
shards=3

if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: the single-node cluster needs root (slurmd)"
    exit 77
fi
for program in munged slurmctld slurmd sbatch sinfo ffmpeg; do
    command -v "$program" > /dev/null || {
        echo "FAIL: $program is missing (scripts/install-deps.sh installs slurm-wlm, munge, ffmpeg)"
        exit 1
    }
done

work="$(mktemp -d /tmp/orvalis-slurm.XXXXXX)"
stop_daemons() {
    local status=$?
    for pidfile in "$work"/slurmd.pid "$work"/slurmctld.pid "$work"/munged.pid; do
        [ -s "$pidfile" ] || continue
        local pid
        pid="$(cat "$pidfile")"
        kill "$pid" 2> /dev/null || true
        for _ in $(seq 50); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2> /dev/null || true
    done
    if [ "$status" -ne 0 ]; then
        echo "-- logs (kept in $work)"
        tail -n 20 "$work"/*.log 2> /dev/null || true
    else
        rm -rf "$work"
    fi
    exit "$status"
}
trap stop_daemons EXIT
trap 'exit 1' INT TERM

# Two free ports on loopback.
free_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 20000))
        ss -ltnH "sport = :$port" 2> /dev/null | grep -q . || { echo "$port"; return; }
    done
}
ctld_port="$(free_port)"
slurmd_port="$(free_port)"
[ "$slurmd_port" != "$ctld_port" ] || slurmd_port=$((ctld_port + 1))
host="$(hostname)"

mkdir -p "$work/state" "$work/spool" "$work/munge"
head -c 1024 /dev/urandom > "$work/munge/key"
chmod 0400 "$work/munge/key"
chmod 0700 "$work/munge"
munged --force --key-file "$work/munge/key" --socket "$work/munge/socket" \
    --pid-file "$work/munged.pid" --log-file "$work/munged.log" --seed-file "$work/munge/seed"

cat > "$work/slurm.conf" << EOF
ClusterName=orvalis-test
SlurmctldHost=$host
SlurmUser=root
SlurmdUser=root
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
AuthType=auth/munge
AuthInfo=socket=$work/munge/socket
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
SelectType=select/cons_tres
ReturnToService=2
MpiDefault=none
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) RealMemory=2000 State=UNKNOWN
PartitionName=test Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF="$work/slurm.conf"
slurmctld -f "$SLURM_CONF"
slurmd -f "$SLURM_CONF"
for _ in $(seq 120); do
    [ "$(sinfo -h -o %T 2> /dev/null | head -n 1)" = idle ] && break
    sleep 0.5
done
[ "$(sinfo -h -o %T | head -n 1)" = idle ] || { echo "FAIL: the node never became idle"; exit 1; }

# Takes of different lengths and levels: quiet ones raised, loud ones attenuated to the target.
mkdir -p "$work/takes/day2"
for i in 1 2 3 4 5 6 7; do
    folder="$work/takes"
    [ "$i" -gt 4 ] && folder="$work/takes/day2"
    ffmpeg -loglevel error -f lavfi -i "anoisesrc=d=$i:c=pink:r=48000:a=0.5:s=$i" \
        -f lavfi -i "anoisesrc=d=$i:c=white:r=48000:a=0.2:s=$((i + 10))" \
        -f lavfi -i "sine=f=$((110 * i)):r=48000:d=$i" -f lavfi -i "sine=f=330:r=48000:d=$i" \
        -filter_complex "[0][1][2][3]amerge=inputs=4,volume=$((i * 6 - 30))dB" \
        -c:a pcm_f32le "$folder/take$i.wav"
done
options=(--target-loudness -18 --true-peak --ceiling -1 -j 1)

cat > "$work/job.sh" << EOF
#!/usr/bin/env bash
exec "$renderer" --out-dir "$work/sharded" "$work/takes" --shard "\$SLURM_ARRAY_TASK_ID/$shards" \\
    ${options[*]} --report "$work/reports/\$SLURM_ARRAY_TASK_ID.json"
EOF
chmod +x "$work/job.sh"
mkdir -p "$work/reports" "$work/job-logs"
start=$SECONDS
sbatch --wait --array=1-$shards --chdir="$work" --output="$work/job-logs/%a.out" \
    --job-name=orvalis-shards "$work/job.sh" > "$work/sbatch.out"
echo "array job of $shards shards: $((SECONDS - start)) s"
for k in $(seq $shards); do
    [ -s "$work/reports/$k.json" ] || { echo "FAIL: shard $k wrote no report"; cat "$work/job-logs/$k.out"; exit 1; }
done

"$renderer" --merge-reports "$work/merged.json" "$work"/reports/*.json
"$renderer" --out-dir "$work/whole" "$work/takes" "${options[@]}" --report "$work/whole.json" > /dev/null

failures=0
count=0
while IFS= read -r -d '' output; do
    relative="${output#"$work/whole/"}"
    count=$((count + 1))
    if ! cmp -s "$output" "$work/sharded/$relative"; then
        echo "FAIL: sharded/$relative differs from the unsharded batch's"
        failures=$((failures + 1))
    fi
done < <(find "$work/whole" -type f -name '*.wav' -print0)
[ "$count" -eq 7 ] || { echo "FAIL: the batch wrote $count outputs, not 7"; failures=$((failures + 1)); }
[ "$(find "$work/sharded" -type f | wc -l)" -eq 7 ] || { echo "FAIL: the shards wrote other files"; failures=$((failures + 1)); }

# The merged report is the batch's report, but for times, workers and where it came from.
comparable() {
    sed -e '/"mergedFrom": \[/,/\]/d' -e "s|$work/whole|$work/sharded|g" "$1" |
        grep -v -E '"(startedAt|mergedFrom|renderSeconds|wallSeconds|speed|workers)":'
}
if ! diff <(comparable "$work/whole.json") <(comparable "$work/merged.json"); then
    echo "FAIL: the merged report differs from the unsharded batch's"
    failures=$((failures + 1))
fi
[ "$failures" -eq 0 ] || exit 1
echo "PASS: $shards shards on Slurm cover the batch once; outputs and merged report equal one batch's"
