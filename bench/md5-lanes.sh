#!/usr/bin/env bash
# The in-memory rate of each MD5 lane path this CPU runs, by how many lanes are busy, against
# the one-stream transform (no files, no peer): where the one-stream hand-over belongs.
# targets: md5-lanes-bench
set -euo pipefail
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$TOVAREK_BUILD/bench/md5-lanes-bench"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
