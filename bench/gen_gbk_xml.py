#!/usr/bin/env python3
"""Writes an XML list of about SIZE_MB megabytes in GBK: a declaration, then records of Chinese
and ASCII text. Usage: gen_gbk_xml.py OUT SIZE_MB"""
import random
import sys

out, size_mb = sys.argv[1], int(sys.argv[2])
rng = random.Random(5)
# Common characters of GB2312's first level (rows 0xB0-0xD7), plus a few of GBK's extension.
common = [bytes([hi, lo]).decode("gbk") for hi in range(0xB0, 0xD8) for lo in range(0xA1, 0xFF)
          if not (hi == 0xD7 and lo > 0xF9)]
extra = [bytes([0x81, lo]).decode("gbk") for lo in range(0x40, 0x7F)]
records = []
for i in range(2000):
    name = "".join(rng.choice(common) for _ in range(rng.randint(2, 12)))
    note = "".join(rng.choice(common + extra) for _ in range(rng.randint(10, 60)))
    records.append(f'  <File id="{i}" md5="{rng.getrandbits(128):032x}">\r\n'
                   f'    <name>{name}.exe</name>\r\n    <note>{note} ({i})</note>\r\n  </File>\r\n')
chunk = "".join(records).encode("gbk")
with open(out, "wb") as f:
    f.write('<?xml version="1.0" encoding="GBK"?>\r\n<list>\r\n'.encode("gbk"))
    written = 0
    while written < size_mb * 1000 * 1000:
        f.write(chunk)
        written += len(chunk)
    f.write(b"</list>\r\n")
