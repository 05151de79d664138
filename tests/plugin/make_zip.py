#!/usr/bin/env python3
"""Builds a zip for the plugin tests: make_zip.py OUT SPEC.

SPEC is JSON: a list of entries {"name", "data" (text), "size" (bytes of
padding), "mode" (Unix mode, default a plain file)}, written in order with
no compression, exactly as named (nothing is cleaned up: the tests want
hostile names). "deflate": true compresses an entry; "declare": N makes
both directories of the archive claim N bytes unpacked, whatever it holds. {"rename_local": [old, new]} instead of an entry rewrites
the first stored copy of a name (the local header) to another of the same
length, so the two directories of the archive disagree."""
import json
import stat
import struct
import sys
import zipfile

out, spec = sys.argv[1], json.loads(sys.argv[2])
patches = []
with zipfile.ZipFile(out, "w", zipfile.ZIP_STORED) as z:
    for e in spec:
        if "rename_local" in e:
            patches.append(e["rename_local"])
            continue
        info = zipfile.ZipInfo(e["name"])
        info.create_system = 3
        mode = e.get("mode", 0o100644)
        info.external_attr = (mode << 16) | (0x10 if stat.S_ISDIR(mode) else 0)
        data = e.get("data", "").encode("utf-8") + b"x" * e.get("size", 0)
        if e.get("deflate"):
            info.compress_type = zipfile.ZIP_DEFLATED
        z.writestr(info, data)
raw = bytearray(open(out, "rb").read())
declared = {e["name"]: e["declare"] for e in spec if "declare" in e}
if declared:
    with zipfile.ZipFile(out) as z:
        for info in z.infolist():
            if info.filename in declared:
                struct.pack_into("<I", raw, info.header_offset + 22, declared[info.filename])
    eocd = raw.rfind(b"PK\x05\x06")
    count, at = struct.unpack_from("<H", raw, eocd + 10)[0], struct.unpack_from("<I", raw, eocd + 16)[0]
    for _ in range(count):
        n, m, k = struct.unpack_from("<HHH", raw, at + 28)
        name = raw[at + 46:at + 46 + n].decode("utf-8")
        if name in declared:
            struct.pack_into("<I", raw, at + 24, declared[name])
        at += 46 + n + m + k
raw = bytes(raw)
for old, new in patches:
    assert len(old) == len(new)
    raw = raw.replace(old.encode(), new.encode(), 1)
open(out, "wb").write(raw)
