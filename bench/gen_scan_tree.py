#!/usr/bin/env python3
"""Writes the scan benchmark's tree and list (deterministic, seeded).

gen_scan_tree.py OUT: OUT/tree holds 20,000 files of random bytes in 200 folders two levels deep,
sizes log-uniform between 200 bytes and 1 MB; OUT/list.md5 holds 100,000 fingerprints in md5sum
form, 10 of them those of tree files (OUT/expected holds those 10 paths); OUT/Ravlin.db gets the
same list in blackmap when make_installed_db is given as the second argument.
"""
import hashlib
import math
import os
import random
import sqlite3
import subprocess
import sys

FILES = 20000
FOLDERS_TOP = 10
FOLDERS_SUB = 20
LISTED = 100000
HITS = 10
MIN_SIZE = 200
MAX_SIZE = 1 << 20


def main():
    out = sys.argv[1]
    make_db = sys.argv[2] if len(sys.argv) > 2 else None
    rng = random.Random(20261207)
    tree = os.path.join(out, "tree")
    per_folder = FILES // (FOLDERS_TOP * FOLDERS_SUB)
    paths = []
    digests = []
    for top in range(FOLDERS_TOP):
        for sub in range(FOLDERS_SUB):
            folder = os.path.join(tree, "d%02d" % top, "s%02d" % sub)
            os.makedirs(folder, exist_ok=True)
            for i in range(per_folder):
                size = int(math.exp(rng.uniform(math.log(MIN_SIZE), math.log(MAX_SIZE))))
                data = rng.randbytes(size)
                path = os.path.join(folder, "f%05d.dat" % len(paths))
                with open(path, "wb") as f:
                    f.write(data)
                paths.append(path)
                digests.append(hashlib.md5(data).hexdigest())
    hits = sorted(rng.sample(range(len(paths)), HITS))
    listed = [(digests[i], os.path.basename(paths[i])) for i in hits]
    while len(listed) < LISTED:
        listed.append(("%032x" % rng.getrandbits(128), "mal%06d.exe" % len(listed)))
    rng.shuffle(listed)
    with open(os.path.join(out, "list.md5"), "w") as f:
        for digest, name in listed:
            f.write("%s  %s\n" % (digest, name))
    with open(os.path.join(out, "expected"), "w") as f:
        for i in hits:
            f.write(os.path.abspath(paths[i]) + "\n")
    if make_db:
        db = os.path.join(out, "Ravlin.db")
        if os.path.exists(db):
            os.remove(db)
        subprocess.run([make_db, db], check=True)
        con = sqlite3.connect(db)
        con.executemany("insert into blackmap values(?,?,'',?)",
                        [(d, n, "0") for d, n in listed])
        con.commit()
        con.close()
    total = sum(os.path.getsize(p) for p in paths)
    print("scan tree: %d files, %.2f GB" % (len(paths), total / 1e9))


if __name__ == "__main__":
    main()
