#!/usr/bin/env bash
# A 100 MB GBK XML file to UTF-16: LoadFile (xmlload-bench) against iconv -f GBK -t UTF-16LE,
# warm cache, interleaved runs, wall-time medians. Both convert the whole file; iconv writes to
# /dev/null, ours keeps the text in memory.
# targets: xmlload-bench
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
bin="$TOVAREK_BUILD/bench/xmlload-bench"

work=$(mktemp -d /tmp/tovarek-bench-xmlload-XXXXXX)
trap 'rm -rf "$work"' EXIT
file="$work/list-gbk.xml"
python3 "$here/gen_gbk_xml.py" "$file" 100
cat "$file" > /dev/null  # warm the cache

# Same result as iconv, unit for unit, before anything is timed.
"$bin" "$file" --out "$work/ours.u16" > /dev/null
iconv -f GBK -t UTF-16LE "$file" > "$work/iconv.u16"
cmp -s "$work/ours.u16" "$work/iconv.u16" || { echo "xmlload: LoadFile and iconv disagree" >&2; exit 1; }
rm -f "$work/ours.u16" "$work/iconv.u16"

ours=() peer=()
for run in 1 2 3 4 5; do
  ours+=("$(seconds "$bin" "$file")")
  peer+=("$(seconds iconv -f GBK -t UTF-16LE -o /dev/null "$file")")
done
rss=$(/usr/bin/time -f %M "$bin" "$file" 2>&1 >/dev/null | tail -1)
m_ours=$(median "${ours[@]}")
m_peer=$(median "${peer[@]}")
bytes=$(stat -c %s "$file")
echo "file: $bytes bytes of GBK, runs: ${ours[*]} (LoadFile) ${peer[*]} (iconv)"
echo "LoadFile median: ${m_ours} s  ($(awk -v b="$bytes" -v t="$m_ours" 'BEGIN {printf "%.0f", b / 1e6 / t}') MB/s, max RSS ${rss} KiB)"
echo "iconv median:    ${m_peer} s"
echo "xmlload ratio=$(ratio "$m_ours" "$m_peer")"
