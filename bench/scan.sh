#!/usr/bin/env bash
# A scan of 20,000 files (about 2.3 GB) against a list of 100,000 fingerprints, warm page cache,
# interleaved: ravlin-cli scan against md5deep -j0 -r -m and find | xargs md5sum. All three must
# find the same 10 files. Every timed scan of ours starts with no fingerprint cache (a first
# scan); SCAN_MODE=repeat (bench/run scan-repeat) keeps the one the check run left, so every
# timed scan is the second scan of the unchanged tree. Also prints the floor: the tree read
# through the page cache by two readers, nothing hashed. TOVAREK_MD5_LANES=avx2|scalar narrows
# the MD5 path.
# targets: ravlin-cli make_installed_db tree-read-bench
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
cli="$TOVAREK_BUILD/cli/ravlin-cli"
data="$(cd "$TOVAREK_BUILD" && pwd)/bench-data/scan"
runs=${SCAN_RUNS:-5}
mode=${SCAN_MODE:-first}

if [ ! -f "$data/done" ]; then
  rm -rf "$data"
  mkdir -p "$data"
  python3 "$here/gen_scan_tree.py" "$data" "$TOVAREK_BUILD/store/make_installed_db"
  touch "$data/done"
fi
tree="$data/tree"
work=$(mktemp -d /tmp/tovarek-bench-scan-XXXXXX)
trap 'rm -rf "$work"' EXIT
cp "$data/Ravlin.db" "$work/Ravlin.db"
sort "$data/expected" > "$work/expected"

run_ours() {
  [ "$mode" = repeat ] || rm -f "$work/Ravlin.fpcache"
  (cd "$work" && "$cli" scan "$tree" > "$work/ours.out" || [ $? -eq 1 ])
}
# Every file read whole through the page cache by two readers, nothing hashed, in one process
# that lists the tree and reads as the scan does (cat through xargs paid for its processes).
run_read() { "$TOVAREK_BUILD/bench/tree-read-bench" "$tree" 2; }
# md5deep -m exits 1 when some file matched nothing, as most do here.
run_md5deep() { md5deep -j0 -r -m "$data/list.md5" "$tree" > "$work/md5deep.out" || [ $? -eq 1 ]; }
run_md5sum() { find "$tree" -type f -print0 | xargs -0 md5sum > "$work/md5sum.out"; }

# Warm the cache and check the three agree before timing anything.
cat "$tree"/*/*/* > /dev/null
run_ours; run_md5deep; run_md5sum
grep '^/' "$work/ours.out" | sort > "$work/ours.found"
sort "$work/md5deep.out" > "$work/md5deep.found"
awk 'NR == FNR {want[$1] = 1; next} ($1 in want) {print substr($0, 35)}' \
  "$data/list.md5" "$work/md5sum.out" | sort > "$work/md5sum.found"
for tool in ours md5deep md5sum; do
  if ! cmp -s "$work/expected" "$work/$tool.found"; then
    echo "scan: $tool found $(wc -l < "$work/$tool.found") files, not the expected 10:" >&2
    diff "$work/expected" "$work/$tool.found" >&2 || true
    exit 1
  fi
done
echo "all three found the same $(wc -l < "$work/expected") files; $(tail -1 "$work/ours.out")"
if [ "$mode" = repeat ]; then
  # The second scan judges from cached fingerprints: it must find the same files.
  run_ours
  grep '^/' "$work/ours.out" | sort > "$work/ours.found"
  cmp -s "$work/expected" "$work/ours.found" || { echo "scan-repeat: the second scan found other files" >&2; exit 1; }
fi
bytes=$(find "$tree" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
echo "tree: $(find "$tree" -type f | wc -l) files, $(awk -v b="$bytes" 'BEGIN {printf "%.2f", b / 1e9}') GB; MD5 path: ${TOVAREK_MD5_LANES:-the widest the CPU runs}; load before: $(cut -d' ' -f1-3 /proc/loadavg)"

ours=() deep=() sums=() reads=()
for run in $(seq "$runs"); do
  ours+=("$(seconds run_ours)")
  deep+=("$(seconds run_md5deep)")
  sums+=("$(seconds run_md5sum)")
  reads+=("$(seconds run_read)")
done
m_ours=$(median "${ours[@]}")
m_deep=$(median "${deep[@]}")
m_sums=$(median "${sums[@]}")
m_read=$(median "${reads[@]}")
name="ravlin-cli scan"
[ "$mode" = repeat ] && name="ravlin-cli scan, repeated"
echo "runs: ${ours[*]} (ravlin-cli) ${deep[*]} (md5deep -j0) ${sums[*]} (md5sum pipeline) ${reads[*]} (read only)"
echo "$name median:$(printf '%*s' $((30 - ${#name})) '') ${m_ours} s"
echo "md5deep -j0 -r -m median:     ${m_deep} s"
echo "find | xargs md5sum median:   ${m_sums} s"
echo "read only (2 readers) median: ${m_read} s ($(awk -v b="$bytes" -v t="$m_read" 'BEGIN {printf "%.2f", b / t / 1e9}') GB/s; floor/md5deep $(ratio "$m_read" "$m_deep"))"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$mode" = repeat ]; then
  echo "scan-repeat ratio=$(ratio "$m_ours" "$m_deep")"
else
  echo "scan ratio=$(ratio "$m_ours" "$m_deep")"
fi
