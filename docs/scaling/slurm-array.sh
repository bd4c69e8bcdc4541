#!/usr/bin/env bash
# A Slurm array job: task i of N converts shard i of the list (every N-th
# name, so shards stay even whatever the folders hold) and writes its report
# to REPORTS/task-i.jsonl. The files, the list and REPORTS are on the
# cluster's shared file system.
#
#   LIST=/archive/lists/all.list0 REPORTS=/archive/reports sbatch slurm-array.sh
#   cat /archive/reports/task-*.jsonl > all.jsonl
#
# A task that is requeued or submitted again (sbatch --array=7,12 ...) skips
# the PDFs already written (-n) and removes what a killed task left.
#SBATCH --job-name=tiff2pdf
#SBATCH --array=0-99%20
#SBATCH --cpus-per-task=4
#SBATCH --mem-per-cpu=1G
#SBATCH --time=04:00:00
#SBATCH --output=tiff2pdf-%A_%a.log
#SBATCH --requeue
set -euo pipefail

list=${LIST:?set LIST to a NUL-separated list of absolute paths}
reports=${REPORTS:?set REPORTS to a folder on the shared file system}
index=${SLURM_ARRAY_TASK_ID:?submit with sbatch --array}
tasks=${SLURM_ARRAY_TASK_COUNT:?submit with sbatch --array}
mkdir -p "$reports"

shard=$(mktemp)
trap 'rm -f "$shard"' EXIT
split -t '\0' -n "r/$((index + 1))/$tasks" "$list" >"$shard"

status=0
quorvex-tiff2pdf -0 --files-from "$shard" -n -q -j "${SLURM_CPUS_PER_TASK:-1}" \
  --report "$reports/task-$index.jsonl" || status=$?
case $status in
  0 | 3) exit 0 ;;  # done (3: some files damaged, the report says which)
  4) # worth another try (disk full, I/O error, memory): back into the queue
    scontrol requeue "${SLURM_ARRAY_JOB_ID}_${index}"
    exit "$status" ;;
  *) exit "$status" ;;  # 1: some inputs failed, the report says why; no retry helps
esac
