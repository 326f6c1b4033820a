#!/usr/bin/env bash
# The second scan of the unchanged scan tree (fingerprints from the cache the first one saved)
# against md5deep -j0; see scan.sh.
# targets: ravlin-cli make_installed_db tree-read-bench
SCAN_MODE=repeat exec bash "$(cd "$(dirname "$0")" && pwd)/scan.sh" "$@"
