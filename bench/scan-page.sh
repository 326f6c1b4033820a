#!/usr/bin/env bash
# The scan page against ravlin-cli scan over the same trees: 20,000 findings (one listed name in
# 20,000 folders) and 200,000 clean files. Prints each one's wall time and the page's longest
# unanswered moment. The command line runs in a PID namespace of its own; the page's bench ends
# no process at all.
# targets: ravlin-cli make_installed_db scan-page-bench
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
build=$(cd "$TOVAREK_BUILD" && pwd)
work=$(mktemp -d /tmp/tovarek-bench-page-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$build/store/make_installed_db" Ravlin.db
python3 - <<'PY'
import os, sqlite3
db = sqlite3.connect("Ravlin.db")
db.execute("insert into blackmap values('0123456789abcdef0123456789abcdef','bad.exe','','1')")
db.commit()
for i in range(20000):
    d = "many/d%03d/e%03d" % (i // 100, i % 100)
    os.makedirs(d)
    open(d + "/bad.exe", "w").write("x")
for i in range(200000):
    d = "large/d%03d" % (i // 500)
    if i % 500 == 0:
        os.makedirs(d)
    open("%s/f%06d.txt" % (d, i), "w").write(str(i))
PY
for tree in many large; do
  cli=$(seconds unshare --pid --fork --mount-proc "$build/cli/ravlin-cli" scan "$work/$tree")
  page=$("$build/bench/scan-page-bench" "$work/$tree" 2>/dev/null | tail -1)
  echo "$tree: ravlin-cli scan ${cli} s; $page"
done
