#!/usr/bin/env python3
"""Packs the skin into the zip archive the program carries as its "ZIPRES"
resource: the two layout documents and every PNG image of skin/.

Entries are deflated and carry a fixed timestamp and fixed attributes, and
are written in name order, so the same skin always gives the same bytes.

Usage: pack_skin.py SKIN_DIR OUT_ZIP [OUT_RC]
With OUT_RC, also writes the resource script that embeds OUT_ZIP.
"""
import os
import sys
import zipfile

LAYOUTS = ("InstallPackages.xml", "MessageBox.xml")
FIXED_TIME = (2020, 1, 1, 0, 0, 0)
RESOURCE_ID = 150


def skin_entries(skin_dir):
    names = list(LAYOUTS)
    names += sorted(n for n in os.listdir(skin_dir) if n.lower().endswith(".png"))
    for name in names:
        path = os.path.join(skin_dir, name)
        if not os.path.isfile(path):
            raise SystemExit("pack_skin: missing %s" % path)
    return names


def write_zip(skin_dir, out_zip):
    tmp = out_zip + ".tmp"
    with zipfile.ZipFile(tmp, "w", compression=zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for name in skin_entries(skin_dir):
            info = zipfile.ZipInfo(name, date_time=FIXED_TIME)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            info.create_system = 0
            with open(os.path.join(skin_dir, name), "rb") as f:
                z.writestr(info, f.read())
    os.replace(tmp, out_zip)


def write_rc(out_zip, out_rc):
    # windres reads the path as a C string: forward slashes need no escaping.
    path = os.path.abspath(out_zip).replace("\\", "/")
    text = '%d ZIPRES "%s"\n' % (RESOURCE_ID, path)
    old = None
    if os.path.exists(out_rc):
        with open(out_rc, "r", encoding="utf-8") as f:
            old = f.read()
    if old != text:
        with open(out_rc, "w", encoding="utf-8") as f:
            f.write(text)


def main(argv):
    if len(argv) not in (3, 4):
        raise SystemExit(__doc__)
    write_zip(argv[1], argv[2])
    if len(argv) == 4:
        write_rc(argv[2], argv[3])


if __name__ == "__main__":
    main(sys.argv)
