#!/bin/sh
# A one-node Slurm of its own (munged, slurmctld, slurmd in a private folder, on ports of its
# own) runs dist/cluster/slurm-array.sh as a 4-task array over an archive: every photo is
# converted exactly once and restores byte for byte; a second submission skips them all.
# The daemons are stopped on every way out. Needs root, as the daemons do.
# usage: slurm_array.sh PIKORA_CLI TEST_DATA ARRAY_SCRIPT
set -eu
cli=$1
data=$2
script=$3
[ "$(id -u)" -eq 0 ] || { echo "needs root"; exit 77; }
for tool in munged slurmctld slurmd sbatch sinfo djxl; do
    command -v "$tool" > /dev/null || { echo "$tool is not installed"; exit 77; }
done

work=$(mktemp -d)
pids=""
stop() {
    for pid in $pids; do kill "$pid" 2> /dev/null || true; done
    for pid in $pids; do wait "$pid" 2> /dev/null || true; done
    rm -rf "$work"
}
trap stop EXIT
trap 'exit 1' INT TERM
. "$(dirname "$0")/common.sh"

show_logs() {
    for log in "$work"/*.log; do echo "== $log" && tail -n 20 "$log"; done >&2
}

# munge, with a key and socket of its own.
dd if=/dev/urandom of="$work/munge.key" bs=1024 count=1 2> /dev/null
chmod 0400 "$work/munge.key"
munged -F --force --key-file="$work/munge.key" --socket="$work/munge.socket" --pid-file="$work/munged.pid" \
    --log-file="$work/munged.log" --seed-file="$work/munged.seed" > "$work/munged.out" 2>&1 &
pids="$pids $!"

host=$(hostname -s)
port=$((20000 + $$ % 20000))
cgroup=cgroup/v1
[ -f /sys/fs/cgroup/cgroup.controllers ] && cgroup=cgroup/v2
mkdir -p "$work/state" "$work/spool" "$work/results"
cat > "$work/slurm.conf" << CONF
ClusterName=pikoratest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
AuthInfo=socket=$work/munge.socket
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=pikora Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF
echo "CgroupPlugin=$cgroup" > "$work/cgroup.conf"
export SLURM_CONF="$work/slurm.conf"

i=0
until [ -S "$work/munge.socket" ]; do
    i=$((i + 1))
    [ $i -le 100 ] || { show_logs; fail "munged did not start"; }
    sleep 0.1
done
slurmctld -D -i -f "$SLURM_CONF" > "$work/slurmctld.out" 2>&1 &
pids="$pids $!"
slurmd -D -f "$SLURM_CONF" > "$work/slurmd.out" 2>&1 &
pids="$pids $!"
i=0
until [ "$(sinfo -h -o %t 2> /dev/null)" = idle ]; do
    i=$((i + 1))
    [ $i -le 60 ] || { show_logs; fail "the node did not become idle"; }
    sleep 1
done

export HOME="$work/home"
mkdir -p "$HOME"
export PATH="$(dirname "$cli"):$PATH"
make_tree

cd "$work/results"
for status in completed skipped; do
    sbatch --wait --array=0-3 --quiet "$script" compress -e 1 "$work/archive" > /dev/null || { show_logs; fail "the array failed"; }
    set -- "$work"/results/pikora-*_*.jsonl
    [ $# -eq 4 ] || fail "expected 4 result files, got $#: $*"
    check_once "$status" "$@"
    mkdir "$work/$status"
    mv "$@" "$work/$status/"
done
echo "slurm: $(wc -l < "$work/expected") photos in a 4-task array, converted once, skipped on resubmission"
