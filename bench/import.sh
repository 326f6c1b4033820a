#!/usr/bin/env bash
# Daily list import: `ravlin-cli import` of the 100,010-record list (one transaction per record,
# as the program imports) into an empty Ravlin.db, against the sqlite3 shell loading the same rows
# into the same table in one transaction. Also times a re-import of the same list, where every
# record is refused. Medians of three runs, each into a fresh folder; the peer's SQL is written
# before any clock starts.
# targets: ravlin-cli
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
cli="$TOVAREK_BUILD/cli/ravlin-cli"
records=${1:-100010}

work=$(mktemp -d /tmp/tovarek-bench-import-XXXXXX)
trap 'rm -rf "$work"' EXIT
list="$work/curdaylist.xml"
python3 "$here/gen_daily_list.py" "$list" "$records"
# Signed with the build's own key, as a publisher signs the daily list; the check is part of
# what is timed.
minisign -S -q -s "$TOVAREK_BUILD/list-key/minisign.key" -m "$list" \
  -t "tovarek-list serial=1 expires=$(date -u -d '+2 days' +%Y-%m-%dT%H:%M:%SZ)"

# The peer's input: the rows the list holds (first of each fingerprint, as the table keeps them),
# read with Python's own XML parser, as one transaction of plain inserts.
python3 - "$list" "$work/load.sql" <<'EOF'
import sys
import xml.etree.ElementTree as ET

def q(text):
    return "'" + (text or "").replace("'", "''") + "'"

seen = set()
with open(sys.argv[2], "w", encoding="utf-8") as out:
    out.write("BEGIN TRANSACTION;\n")
    for f in ET.parse(sys.argv[1]).getroot().findall("File"):
        md5, save, size = (f.find(n) for n in ("md5", "save", "size"))
        if md5 is None or save is None or not md5.text or not save.text or md5.text in seen:
            continue
        seen.add(md5.text)
        out.write("INSERT INTO blackmap VALUES(%s,%s,'',%s);\n"
                  % (q(md5.text), q(save.text), q(size.text if size is not None else "")))
    out.write("COMMIT;\n")
EOF
schema="create table blackmap(md5 varchar(33) PRIMARY KEY,name varchar(50),intro text,size varchar(20));"
expected=$(grep -c '^INSERT' "$work/load.sql")

ours=() shell=() again=()
for run in 1 2 3; do
  dir="$work/ours-$run"
  mkdir "$dir"
  ours+=("$(cd "$dir" && seconds "$cli" import "$list")")
  got=$(sqlite3 "$dir/Ravlin.db" "select count(*) from blackmap")
  [ "$got" = "$expected" ] || { echo "import: ravlin-cli stored $got rows, expected $expected" >&2; exit 1; }
  again+=("$(cd "$dir" && seconds "$cli" import "$list")")
  got=$(sqlite3 "$dir/Ravlin.db" "select count(*) from blackmap")
  [ "$got" = "$expected" ] || { echo "import: re-import changed the row count to $got" >&2; exit 1; }

  peer="$work/shell-$run.db"
  sqlite3 "$peer" "$schema"
  shell+=("$(seconds sqlite3 "$peer" ".read $work/load.sql")")
  got=$(sqlite3 "$peer" "select count(*) from blackmap")
  [ "$got" = "$expected" ] || { echo "import: sqlite3 shell stored $got rows, expected $expected" >&2; exit 1; }
  rm -rf "$dir" "$peer"
done

m_ours=$(median "${ours[@]}")
m_shell=$(median "${shell[@]}")
m_again=$(median "${again[@]}")
echo "list: $records records, $expected distinct fingerprints ($(du -h "$list" | cut -f1))"
echo "runs: ${ours[*]} (ours) ${shell[*]} (sqlite3 shell) ${again[*]} (re-import)"
echo "ravlin-cli import median:              ${m_ours} s  (one transaction per record)"
echo "sqlite3 shell, one transaction median: ${m_shell} s"
echo "re-import, every record refused:       ${m_again} s"
echo "import ratio=$(ratio "$m_ours" "$m_shell")"
