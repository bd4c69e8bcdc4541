#!/usr/bin/env bash
# Converts the TIFF files named in LIST on SSH hosts that do not share the
# files: GNU parallel copies each file to a host, converts it there, brings
# the PDF back beside its TIFF and removes both copies from the host. The
# hosts' report lines come back on parallel's output, appended to REPORT.
#
# Run it again after any interruption: the job log makes parallel skip the
# files it has finished (--resume); add --resume-failed to also try again the
# ones that failed (exit 4 in the log: a full disk, an I/O error).
#
#   parallel-transfer.sh LIST REPORT [parallel options]
#     LIST    paths relative to this folder, each ended by NUL
#     REPORT  JSON Lines file; the job log is REPORT.joblog
#   e.g.  parallel-transfer.sh scans.list0 report.jsonl --sshloginfile hosts
set -euo pipefail

list=${1:?usage: parallel-transfer.sh LIST REPORT [parallel options]}
report=${2:?usage: parallel-transfer.sh LIST REPORT [parallel options]}
shift 2

parallel --will-cite -0 -a "$list" --joblog "$report.joblog" --resume --halt never "$@" \
  --transferfile {} --return {.}.pdf --cleanup \
  quorvex-tiff2pdf -q -j 1 --report - {} >>"$report"
