#!/usr/bin/env python3
"""Import-table check of the shipped executables.

The installer runs elevated, usually from a folder anyone can drop files into
(Downloads). Windows looks for an imported DLL in the program's own folder
first unless the name is one of the system's known DLLs, whose copies always
come from System32; and imports are resolved before any code of the program
runs. So the import table of a shipped executable may name known DLLs only
(plus comctl32, which the application manifest binds side by side); every
other DLL is delay-loaded (cmake/delayload) once the program has restricted
the DLL search to System32.

Usage: check_imports.py OBJDUMP --shipped EXE... --control EXE...
  --shipped  executables that must pass
  --control  executables that must FAIL (a program importing a DLL outside
             the list the ordinary way): proof that the check can fail
Exit status 0 when every shipped executable passes and every control fails.
"""

import re
import subprocess
import sys

# The known DLLs of Windows 10 (22H2) and Windows 11 (23H2), x64: the values
# of HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs (the
# WOW64 and ARM64 emulation entries left out; they are not importable), plus
# ntdll, which the kernel maps into every process before anything is searched.
KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "coml2.dll", "difxapi.dll", "gdi32.dll",
    "gdiplus.dll", "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll",
    "nsi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll", "setupapi.dll",
    "shcore.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "wldap32.dll", "ws2_32.dll", "ntdll.dll",
}
# Bound through the application manifest's side-by-side dependency.
SIDE_BY_SIDE = {"comctl32.dll"}


def imported_dlls(objdump, exe):
    out = subprocess.run([objdump, "-p", exe], capture_output=True, text=True, check=True).stdout
    return sorted({m.group(1) for m in re.finditer(r"^\s*DLL Name:\s*(\S+)", out, re.M)}, key=str.lower)


def outside_the_list(names):
    return [n for n in names if n.lower() not in KNOWN_DLLS | SIDE_BY_SIDE]


def main(argv):
    objdump = argv[0]
    groups = {"--shipped": [], "--control": []}
    current = None
    for arg in argv[1:]:
        if arg in groups:
            current = groups[arg]
        elif current is None:
            print("usage: check_imports.py OBJDUMP --shipped EXE... --control EXE...", file=sys.stderr)
            return 2
        else:
            current.append(arg)
    if not groups["--shipped"] or not groups["--control"]:
        print("need at least one shipped and one control executable", file=sys.stderr)
        return 2

    ok = True
    for exe in groups["--shipped"]:
        names = imported_dlls(objdump, exe)
        bad = outside_the_list(names)
        print("%s: %s" % (exe, ", ".join(names)))
        if bad:
            ok = False
            print("  FAIL: not known DLLs (delay-load them, see cmake/delayload): %s" % ", ".join(bad))
        if not names:
            ok = False
            print("  FAIL: no import table read (is this an executable?)")
    for exe in groups["--control"]:
        bad = outside_the_list(imported_dlls(objdump, exe))
        print("control %s: outside the list: %s" % (exe, ", ".join(bad) or "none"))
        if not bad:
            ok = False
            print("  FAIL: the control passed, so the check could not see a planted import")
    print("PASS" if ok else "FAIL")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
