#!/usr/bin/env python3
"""Source-package entries for a private apt configuration, made from this
machine's own apt sources only.

Usage: deb-src-entries.py [--root DIR]

Reads DIR/etc/apt/sources.list and DIR/etc/apt/sources.list.d/*.list (one-line
format) and DIR/etc/apt/sources.list.d/*.sources (deb822), the files apt itself
reads (DIR defaults to /). Prints one deb822 stanza of type deb-src for every
enabled entry, with the entry's own archive, suites, components and key. Exits
with 1 and a message when there is no usable entry: the set-up cannot guess an
archive, and must not name one of its own.
"""

import glob
import os
import sys


def one_line_entries(path):
    """Entries of a one-line sources file: deb [opts] URI SUITE [COMPONENT...]."""
    entries = []
    with open(path, encoding="utf-8", errors="replace") as f:
        for raw in f:
            line = raw.split("#", 1)[0].strip()
            if not line:
                continue
            words = line.split()
            if words[0] not in ("deb", "deb-src"):
                continue
            words = words[1:]
            options = {}
            if words and words[0].startswith("["):
                text = " ".join(words)
                close = text.find("]")
                if close < 0:
                    continue
                for opt in text[1:close].split():
                    key, _, value = opt.partition("=")
                    options[key.lower()] = value
                words = text[close + 1:].split()
            if len(words) < 2:
                continue
            entries.append({
                "URIs": [words[0]],
                "Suites": [words[1]],
                "Components": words[2:],
                "Signed-By": options.get("signed-by", ""),
                "Trusted": options.get("trusted", ""),
            })
    return entries


def deb822_entries(path):
    """Entries of a deb822 sources file; multi-line fields keep their lines."""
    stanzas, fields, last = [], {}, None
    with open(path, encoding="utf-8", errors="replace") as f:
        lines = f.read().splitlines() + [""]
    for line in lines:
        if line.startswith("#"):
            continue
        if not line.strip():
            if fields:
                stanzas.append(fields)
            fields, last = {}, None
            continue
        if line[0] in " \t" and last:
            fields[last] += "\n" + line
            continue
        key, sep, value = line.partition(":")
        if not sep:
            continue
        last = key.strip().lower()
        fields[last] = value.strip()
    entries = []
    for st in stanzas:
        types = st.get("types", "").split()
        if st.get("enabled", "yes").strip().lower() == "no" or not ({"deb", "deb-src"} & set(types)):
            continue
        entries.append({
            "URIs": st.get("uris", "").split(),
            "Suites": st.get("suites", "").split(),
            "Components": st.get("components", "").split(),
            "Signed-By": st.get("signed-by", ""),
            "Trusted": st.get("trusted", ""),
        })
    return entries


def stanza(entry):
    out = ["Types: deb-src",
           "URIs: " + " ".join(entry["URIs"]),
           "Suites: " + " ".join(entry["Suites"])]
    if entry["Components"]:
        out.append("Components: " + " ".join(entry["Components"]))
    if entry["Signed-By"]:
        out.append("Signed-By: " + entry["Signed-By"])
    if entry["Trusted"]:
        out.append("Trusted: " + entry["Trusted"])
    return "\n".join(out)


def main(argv):
    root = "/"
    if "--root" in argv:
        root = argv[argv.index("--root") + 1]
    apt = os.path.join(root, "etc", "apt")
    entries = []
    classic = os.path.join(apt, "sources.list")
    if os.path.isfile(classic):
        entries += one_line_entries(classic)
    for path in sorted(glob.glob(os.path.join(apt, "sources.list.d", "*.list"))):
        entries += one_line_entries(path)
    for path in sorted(glob.glob(os.path.join(apt, "sources.list.d", "*.sources"))):
        entries += deb822_entries(path)
    # A CD or DVD named as a source cannot be fetched from here.
    entries = [e for e in entries
               if e["URIs"] and e["Suites"] and not any(u.startswith("cdrom:") for u in e["URIs"])]
    stanzas = []
    for e in entries:
        text = stanza(e)
        if text not in stanzas:
            stanzas.append(text)
    if not stanzas:
        sys.stderr.write("no apt sources found in %s (sources.list, sources.list.d/*.list, "
                         "sources.list.d/*.sources): configure this machine's Debian archive for apt, "
                         "then run the set-up again\n" % apt)
        return 1
    sys.stdout.write("\n\n".join(stanzas) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
