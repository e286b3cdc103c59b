#!/usr/bin/env python3
"""Fails when a shipped program lacks its version resource: file and product
version, product name, company and description, in Chinese and in English.

    check-version.py WINDRES VERSION PROGRAM.exe...
"""
import re
import subprocess
import sys

FIELDS = ('CompanyName', 'FileDescription', 'FileVersion', 'ProductName', 'ProductVersion')
LANGUAGES = {'080403a8': 'Chinese', '040904b0': 'English'}


def text(value):
    """A resource string as windres writes it back: "..." or L"\\x...."."""
    if value.startswith('L'):
        return re.sub(r'\\x([0-9a-fA-F]{4})', lambda m: chr(int(m.group(1), 16)), value[2:-1])
    return value[1:-1]


def main():
    windres, version, programs = sys.argv[1], sys.argv[2], sys.argv[3:]
    failed = False
    for program in programs:
        rc = subprocess.run([windres, '-i', program, '-O', 'rc'], check=True, capture_output=True, text=True).stdout
        tables = {}
        for block, body in re.findall(r'BLOCK "([0-9a-f]{8})"\s*BEGIN(.*?)END', rc, re.S):
            tables[block] = {k: text(v) for k, v in re.findall(r'VALUE "(\w+)", (L?"[^"]*")', body)}
        for block, language in LANGUAGES.items():
            values = tables.get(block, {})
            missing = [f for f in FIELDS if not values.get(f)]
            wrong = [f for f in ('FileVersion', 'ProductVersion') if values.get(f) and values[f] != version]
            if missing or wrong:
                print('%s, %s: missing %s, not %s: %s' % (program, language, missing, version, wrong))
                failed = True
            else:
                print('%s, %s: %s' % (program, language, values['FileDescription']))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
