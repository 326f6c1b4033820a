#!/usr/bin/env bash
# A scan of 20,000 files (about 2.3 GB) against a list of 100,000 fingerprints, warm cache,
# interleaved: ravlin-cli scan against md5deep -j0 -r -m and find | xargs md5sum. All three must
# find the same 10 files.
# targets: ravlin-cli make_installed_db
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
cli="$TOVAREK_BUILD/cli/ravlin-cli"
data="$(cd "$TOVAREK_BUILD" && pwd)/bench-data/scan"
runs=${SCAN_RUNS:-5}

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

run_ours() { (cd "$work" && "$cli" scan "$tree" > "$work/ours.out" || [ $? -eq 1 ]); }
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

ours=() deep=() sums=()
for run in $(seq "$runs"); do
  ours+=("$(seconds run_ours)")
  deep+=("$(seconds run_md5deep)")
  sums+=("$(seconds run_md5sum)")
done
m_ours=$(median "${ours[@]}")
m_deep=$(median "${deep[@]}")
m_sums=$(median "${sums[@]}")
echo "runs: ${ours[*]} (ravlin-cli) ${deep[*]} (md5deep -j0) ${sums[*]} (md5sum pipeline)"
echo "ravlin-cli scan median:       ${m_ours} s"
echo "md5deep -j0 -r -m median:     ${m_deep} s"
echo "find | xargs md5sum median:   ${m_sums} s"
echo "scan ratio=$(ratio "$m_ours" "$m_deep")"
