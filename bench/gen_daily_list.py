#!/usr/bin/env python3
"""Writes a daily list (curdaylist.xml format) for benchmarks.

usage: bench/gen_daily_list.py OUTFILE [RECORDS]      (RECORDS defaults to 100010)

The output is UTF-8 with an XML declaration, one root element `list` and one `File` element per
record holding `save`, `md5` and `size`. It is the same for the same RECORDS on every run. The
names mix plain ASCII, Chinese text, entity references (&amp;), apostrophes, quotation marks and
CDATA sections, as real lists do. Every 10001st record repeats the fingerprint of an earlier one,
so the default 100010 records hold exactly 100000 distinct fingerprints and an import adds
100000 rows and refuses 10.
"""

import hashlib
import sys

DEFAULT_RECORDS = 100010
REPEAT_EVERY = 10001

EICAR = ("eicar.com", "44d88612fea8a8f36de82e1278abb02f", "68")

WORDS = ["trojan", "worm", "dropper", "miner", "backdoor", "keylogger", "adware", "rootkit"]
CHINESE = ["病毒样本", "木马下载器", "盗号程序", "恶意插件", "广告软件"]
EXTENSIONS = [".exe", ".dll", ".scr", ".com", ".bat", ".sh", ".elf", ".so"]


def fingerprint(i):
    return hashlib.md5(("tovarek-list-%d" % i).encode("ascii")).hexdigest()


def name_markup(i):
    """The `save` element's content: escaped text or a CDATA section."""
    ext = EXTENSIONS[i % len(EXTENSIONS)]
    kind = i % 10
    if kind == 3:
        return "%s_%06d%s" % (CHINESE[i % len(CHINESE)], i, ext)
    if kind == 5:
        return "%s&amp;%s_%06d%s" % (WORDS[i % 8], WORDS[(i + 3) % 8], i, ext)
    if kind == 7:
        return "<![CDATA[%s<%06d>&%s]]>" % (WORDS[i % 8], i, ext)
    if kind == 8:
        return "%s's \"copy\" %06d%s" % (WORDS[i % 8], i, ext)
    return "%s_%06d%s" % (WORDS[i % 8], i, ext)


def main(argv):
    if len(argv) < 2 or len(argv) > 3:
        sys.stderr.write(__doc__)
        return 2
    out_path = argv[1]
    try:
        records = int(argv[2]) if len(argv) == 3 else DEFAULT_RECORDS
    except ValueError:
        sys.stderr.write("gen_daily_list.py: RECORDS must be a number\n")
        return 2
    if records < 0:
        sys.stderr.write("gen_daily_list.py: RECORDS must not be negative\n")
        return 2

    parts = ['<?xml version="1.0" encoding="UTF-8"?>\n<list>\n']
    for i in range(records):
        if i == 0:
            save, md5, size = EICAR
        else:
            if i % REPEAT_EVERY == REPEAT_EVERY - 1:
                md5 = fingerprint(i - 5000)  # an earlier record's fingerprint
            else:
                md5 = fingerprint(i)
            save = name_markup(i)
            size = str(1024 + (i * 7919) % 5000000)
        parts.append("  <File>\n    <save>%s</save>\n    <md5>%s</md5>\n    <size>%s</size>\n"
                     "  </File>\n" % (save, md5, size))
    parts.append("</list>\n")
    with open(out_path, "w", encoding="utf-8", newline="\n") as f:
        f.write("".join(parts))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
