#!/bin/sh
#SBATCH --job-name=pikora
#SBATCH --output=pikora-%A_%a.log
#
# One shard of a photo archive per task of a Slurm job array:
#
#     sbatch --array=0-7 dist/cluster/slurm-array.sh compress [options] PATH...
#
# Task $SLURM_ARRAY_TASK_ID of $SLURM_ARRAY_TASK_COUNT runs
# `pikora-cli COMMAND --json --shard ID/COUNT [options] PATH...` and writes its JSON lines to
# pikora-JOBID_TASKID.jsonl in the folder sbatch was called from (or in $PIKORA_RESULTS_DIR).
# The array's indices must be a contiguous range; they are counted from its first one.
# pikora-cli is looked up in PATH unless $PIKORA_CLI names it. A task that is run again (a
# requeue, a second submission) skips the photos that are already converted.
set -eu

if [ -z "${SLURM_ARRAY_TASK_ID:-}" ] || [ -z "${SLURM_ARRAY_TASK_COUNT:-}" ]; then
    echo "slurm-array.sh: submit it as a job array: sbatch --array=0-N $0 compress PATH..." >&2
    exit 2
fi
if [ $# -lt 2 ]; then
    echo "usage: sbatch --array=0-N $0 compress|restore [options] PATH..." >&2
    exit 2
fi

command=$1
shift
index=$((SLURM_ARRAY_TASK_ID - ${SLURM_ARRAY_TASK_MIN:-0}))
results=${PIKORA_RESULTS_DIR:-${SLURM_SUBMIT_DIR:-.}}
exec "${PIKORA_CLI:-pikora-cli}" "$command" --json --shard "$index/$SLURM_ARRAY_TASK_COUNT" "$@" \
    > "$results/pikora-${SLURM_ARRAY_JOB_ID}_${SLURM_ARRAY_TASK_ID}.jsonl"
