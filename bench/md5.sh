#!/usr/bin/env bash
# MD5 of one 1 GiB file: ravlin-cli md5 against openssl md5 and md5sum, warm cache, interleaved.
# targets: ravlin-cli
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
cli="$TOVAREK_BUILD/cli/ravlin-cli"

work=$(mktemp -d /tmp/tovarek-bench-md5-XXXXXX)
trap 'rm -rf "$work"' EXIT
file="$work/one-gib.bin"
head -c $((1024 * 1024 * 1024)) /dev/urandom > "$file"
cat "$file" > /dev/null  # warm the cache

want=$(md5sum "$file" | cut -d' ' -f1)
got=$("$cli" md5 "$file" | cut -d' ' -f1)
[ "$want" = "$got" ] || { echo "md5: ravlin-cli gives $got, md5sum $want" >&2; exit 1; }

ours=() openssl=() md5sum=()
for run in 1 2 3; do
  ours+=("$(seconds "$cli" md5 "$file")")
  openssl+=("$(seconds openssl md5 "$file")")
  md5sum+=("$(seconds md5sum "$file")")
done
rss=$(/usr/bin/time -f %M "$cli" md5 "$file" 2>&1 >/dev/null | tail -1)

m_ours=$(median "${ours[@]}")
m_openssl=$(median "${openssl[@]}")
m_md5sum=$(median "${md5sum[@]}")
echo "file: 1 GiB, runs: ${ours[*]} (ours) ${openssl[*]} (openssl) ${md5sum[*]} (md5sum)"
echo "ravlin-cli md5 median: ${m_ours} s  ($(awk -v t="$m_ours" 'BEGIN {printf "%.0f", 1073.741824 / t}') MB/s, max RSS ${rss} KiB)"
echo "openssl md5 median:    ${m_openssl} s"
echo "md5sum median:         ${m_md5sum} s"
echo "md5 ratio=$(ratio "$m_ours" "$m_openssl")"
