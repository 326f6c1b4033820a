#!/usr/bin/env bash
# A daily list of 100,010 File records (~13 MB of UTF-8): xml-bench (LoadFile to UTF-16,
# ParseText, every save/md5/size read with FindChild/EnterElement/ElementText/LeaveElement)
# against a pugixml program reading the same values and against xmllint --noout. Whole
# processes, warm cache, interleaved runs, wall-time medians. ratio = ours / pugixml.
# targets: xml-bench xml-pugi-bench
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
ours_bin="$TOVAREK_BUILD/bench/xml-bench"
pugi_bin="$TOVAREK_BUILD/bench/xml-pugi-bench"
[ -x "$pugi_bin" ] || { echo "xml: $pugi_bin missing (is libpugixml-dev installed?)" >&2; exit 1; }
command -v xmllint >/dev/null || { echo "xml: xmllint missing (libxml2-utils)" >&2; exit 1; }

# The list is generated once and kept beside the build.
list="$TOVAREK_BUILD/bench-data/curdaylist-100010.xml"
if [ ! -s "$list" ]; then
  mkdir -p "$(dirname "$list")"
  python3 "$here/gen_daily_list.py" "$list.tmp" 100010
  mv "$list.tmp" "$list"
fi
cat "$list" > /dev/null  # warm the cache

# Both programs must see the same records before anything is timed.
got=$("$ours_bin" "$list" | cut -d' ' -f1)
want=$("$pugi_bin" "$list" | cut -d' ' -f1)
[ "$got" = 100010 ] && [ "$want" = 100010 ] ||
  { echo "xml: records read: ours $got, pugixml $want (expected 100010)" >&2; exit 1; }
xmllint --noout "$list"

ours=() pugi=() lint=()
for run in 1 2 3 4 5 6 7; do
  ours+=("$(seconds "$ours_bin" "$list")")
  pugi+=("$(seconds "$pugi_bin" "$list")")
  lint+=("$(seconds xmllint --noout "$list")")
done
rss=$(/usr/bin/time -f %M "$ours_bin" "$list" 2>&1 >/dev/null | tail -1)
m_ours=$(median "${ours[@]}")
m_pugi=$(median "${pugi[@]}")
m_lint=$(median "${lint[@]}")
echo "file: $(stat -c %s "$list") bytes, 100010 records"
echo "runs (s): ours ${ours[*]}"
echo "          pugixml ${pugi[*]}"
echo "          xmllint ${lint[*]}"
echo "xml-bench median:       ${m_ours} s  (max RSS ${rss} KiB)"
echo "pugixml median:         ${m_pugi} s"
echo "xmllint --noout median: ${m_lint} s"
echo "xml ratio=$(ratio "$m_ours" "$m_pugi")"
