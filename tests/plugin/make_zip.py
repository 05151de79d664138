#!/usr/bin/env python3
"""Builds a zip for the plugin tests: make_zip.py OUT SPEC.

SPEC is JSON: a list of entries {"name", "data" (text), "size" (bytes of
padding), "mode" (Unix mode, default a plain file)}, written in order with
no compression, exactly as named (nothing is cleaned up: the tests want
hostile names). {"rename_local": [old, new]} instead of an entry rewrites
the first stored copy of a name (the local header) to another of the same
length, so the two directories of the archive disagree."""
import json
import stat
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
        z.writestr(info, data)
raw = open(out, "rb").read()
for old, new in patches:
    assert len(old) == len(new)
    raw = raw.replace(old.encode(), new.encode(), 1)
open(out, "wb").write(raw)
