#!/usr/bin/env python3
"""Fills the rows of system/register.cpp whose function is declared in
include/apl.h but still registered as nullptr (primitives by their APL_ name,
system functions by the name in their generated-code name)."""
import re
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
header = (ROOT / "include/apl.h").read_text()
declared = set(re.findall(r'APL_EXPORT\s+[^;(]*?\**\b(APL_\w+)\s*\(', header))
path = ROOT / "system/register.cpp"
text = path.read_text()

def primitive(m):
    code, flags, name = m.groups()
    return '{%s, %s, %s, "%s"}' % (code, flags, name, name) if name in declared else m.group(0)

def system(m):
    letters, kind, cname = m.groups()
    name = "APL_" + cname
    return '{"%s", %s, %s, "FUNCTION(%s)"}' % (letters, kind, name, cname) if name in declared else m.group(0)

text = re.sub(r'\{\s*(\d+),\s*(0x[0-9a-f]+),\s*nullptr,\s*"(APL_\w+)"\}', primitive, text)
text = re.sub(r'\{"(\w+)",\s*(0x2[45]),\s*nullptr,\s*"FUNCTION\((\w+)\)"\}', system, text)
path.write_text(text)
