#!/usr/bin/env bash
# Converts the TIFF files named in LIST on the hosts GNU parallel is given,
# all of which see the files under the same paths (a shared folder: NFS,
# CephFS, Lustre). LIST is split into shards of SHARD names; each shard is one
# quorvex-tiff2pdf run on one host, writing its own JSON Lines report into
# REPORTS (on the shared folder too), so a host or a run that dies loses no
# report line of a file it finished.
#
# Run it again after any interruption (kill -9 included): -n skips every PDF
# already there, and the temporary files of killed runs are removed.
#
#   parallel-shared.sh LIST REPORTS [parallel options]
#     LIST     absolute paths, each ended by NUL (find /archive -name '*.tif' -print0)
#     REPORTS  folder for the reports: cat REPORTS/*.jsonl to merge them
#   e.g.  parallel-shared.sh all.list0 /archive/reports --sshloginfile hosts
#         parallel-shared.sh all.list0 /archive/reports -S 2/:      (two local slots)
#
# Environment: SHARD (names per run, default 200), JOBS (quorvex-tiff2pdf -j
# per run, default 1: parallel already runs one job per processor of each host),
# QUORVEX_OPTIONS (further options, e.g. "-d /archive/pdfs -r").
set -euo pipefail

list=${1:?usage: parallel-shared.sh LIST REPORTS [parallel options]}
reports=${2:?usage: parallel-shared.sh LIST REPORTS [parallel options]}
shift 2
shard=${SHARD:-200}
jobs=${JOBS:-1}
# One name for this run, so a resumed run adds reports instead of replacing them.
run=$(date -u +%Y%m%dT%H%M%S)-$$
mkdir -p "$reports"
reports=$(cd "$reports" && pwd)

# --pipe hands each job SHARD names on its standard input; a job's exit
# status is quorvex-tiff2pdf's (0 done, 3 damage, 1 failed, 4 worth retrying).
# shellcheck disable=SC2086  # QUORVEX_OPTIONS is a list of options
parallel --will-cite --pipe -N "$shard" --recend '\0' --halt never "$@" \
  quorvex-tiff2pdf -0 --files-from - -n -q -j "$jobs" ${QUORVEX_OPTIONS:-} \
  --report "$reports/$run-{#}.jsonl" <"$list"
