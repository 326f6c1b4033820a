#!/usr/bin/env bash
# The protection pass over 200 sleeping processes of 10 distinct 10 MB executables, against a
# list of 100,000 fingerprints, compared with listing the same processes with ps. Everything
# runs in a PID namespace of its own, so the pass sees (and could end) only the benchmark's
# processes; leaving the namespace ends them all.
# targets: ravlin-cli make_installed_db
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
cli="$TOVAREK_BUILD/cli/ravlin-cli"
data="$TOVAREK_BUILD/bench-data/watch"
passes=${WATCH_PASSES:-31}

if [ ! -f "$data/done" ]; then
  rm -rf "$data"
  mkdir -p "$data"
  "$TOVAREK_BUILD/store/make_installed_db" "$data/Ravlin.db"
  python3 - "$data/Ravlin.db" <<'PY'
import hashlib, sqlite3, sys
db = sqlite3.connect(sys.argv[1])
rows = ((hashlib.md5(b"tovarek-watch-%d" % i).hexdigest(), "listed_%06d.exe" % i, "", "1024")
        for i in range(100000))
db.executemany("insert into blackmap values(?,?,?,?)", rows)
db.commit()
PY
  # A copy of sleep with 10 MB of its own trailing bytes runs as sleep does.
  for i in 0 1 2 3 4 5 6 7 8 9; do
    cp /bin/sleep "$data/sleeper$i"
    head -c 10485760 /dev/urandom >> "$data/sleeper$i"
  done
  touch "$data/done"
fi
rows=$(python3 -c "import sqlite3,sys; print(sqlite3.connect(sys.argv[1]).execute('select count(*) from blackmap').fetchone()[0])" "$data/Ravlin.db")
work=$(mktemp -d /tmp/tovarek-bench-watch-XXXXXX)
trap 'rm -rf "$work"' EXIT
cp "$data/Ravlin.db" "$work/Ravlin.db"
cat "$data"/sleeper* > /dev/null  # warm cache

if ! unshare --pid --fork --mount-proc true 2>/dev/null; then
  echo "bench/watch: cannot make a PID namespace (unshare refused); not run" >&2
  exit 2
fi

export cli data work passes rows here
unshare --pid --fork --mount-proc bash -c '
  set -euo pipefail
  . "$here/lib.sh"
  for i in $(seq 0 199); do "$data/sleeper$((i % 10))" 100000 & done
  while [ "$(ls -d /proc/[0-9]* | wc -l)" -lt 201 ]; do sleep 0.05; done
  procs=$(ps -e --no-headers | wc -l)
  cd "$work"
  status=0
  "$cli" watch --passes "$passes" > history.out 2> passes.out || status=$?
  if [ "$status" -ne 0 ] || [ -s history.out ]; then
    echo "bench/watch: the pass ended something or failed (status $status)" >&2; cat history.out >&2; exit 1
  fi
  first=$(awk "NR==1 {print \$3}" passes.out)
  firstRead=$(awk "NR==1 {print \$5}" passes.out)
  steady=$(median $(awk "NR>1 {print \$3}" passes.out))
  steadyRead=$(awk "NR>1 {s += \$5} END {print s + 0}" passes.out)
  pstimes=()
  for i in $(seq 1 "$passes"); do pstimes+=("$(seconds ps -eo pid,ppid,comm,args)"); done
  psmed=$(median "${pstimes[@]}")
  echo "processes in the namespace: $procs; list: $rows fingerprints"
  echo "first pass:                 $first s ($firstRead executables read)"
  echo "steady pass, median of $((passes - 1)): $steady s ($steadyRead executables read in all)"
  echo "ps -eo pid,ppid,comm,args, median of $passes: $psmed s"
  echo "watch ratio=$(ratio "$steady" "$psmed")"
'
