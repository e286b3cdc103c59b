#!/usr/bin/env python3
"""Fails when a shipped program imports a DLL or a function that is not in the
reviewed list (each entry checked to exist on Windows XP SP3), or a DLL that
is not a known DLL on every Windows from XP on: the loader takes known DLLs
from the system folder only, any other one may be found first beside the
program (a downloads folder) before it can restrict the search.

    check-imports.py OBJDUMP ALLOWED-LIST PROGRAM.exe...
"""
import re
import subprocess
import sys


# In KnownDLLs from Windows XP to 11.
KNOWN_DLLS = {'advapi32.dll', 'comdlg32.dll', 'gdi32.dll', 'kernel32.dll', 'msvcrt.dll', 'ole32.dll',
              'oleaut32.dll', 'shell32.dll', 'user32.dll'}


def read_allowed(path):
    allowed = set()
    for line in open(path, encoding='utf-8'):
        line = line.split('#', 1)[0].strip()
        if line:
            dll, function = line.split()
            allowed.add((dll.lower(), function))
    return allowed


def imports_of(objdump, program):
    """(dll, function) pairs from the import tables objdump -p prints; a
    function imported by ordinal is named '#ordinal'."""
    found = []
    dll = None
    for line in subprocess.run([objdump, '-p', program], check=True, capture_output=True, text=True).stdout.splitlines():
        name = re.match(r'\s*DLL Name: (\S+)', line)
        if name:
            dll = name.group(1).lower()
            continue
        entry = re.match(r'\s+[0-9a-f]+\s+(\d+)\s+(\S+)\s*$', line)
        if dll and entry:
            found.append((dll, entry.group(2) if entry.group(2) != '<none>' else '#' + entry.group(1)))
        elif dll and not line.strip():
            dll = None
    return found


def main():
    objdump, allowed_path, programs = sys.argv[1], sys.argv[2], sys.argv[3:]
    allowed = read_allowed(allowed_path)
    failed = False
    for program in programs:
        imports = imports_of(objdump, program)
        if not imports:
            print('%s: no import table read' % program)
            failed = True
        for dll in sorted({dll for dll, _ in imports} - KNOWN_DLLS):
            print('%s imports %s, which is not a known DLL: look it up at run time' % (program, dll))
            failed = True
        for dll, function in imports:
            if (dll, function) not in allowed:
                print('%s imports %s!%s, which is not in %s' % (program, dll, function, allowed_path))
                failed = True
        print('%s: %d imports checked' % (program, len(imports)))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
