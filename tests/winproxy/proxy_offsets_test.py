#!/usr/bin/env python3
"""The string parameters of the generated OPC proxies start at the right type entries.

  proxy_offsets_test.py CMAKE_DIR GENERATED_DIR...
The corrected proxy sources (of each bitness) need no further correction, each string parameter
below starts at the entry its declaration calls for (the first format character, and its flags
byte where that matters), and the array behind each [size_is] pointer of a flat structure
(32-bit) takes its count from the field's offset in that structure; widl's own output gets
several of them wrong."""
import re
import sys

sys.path.insert(0, sys.argv[1])
import FixStublessProxy as fix  # noqa: E402

FC_RP, FC_UP, FC_CARRAY, FC_BOGUS_ARRAY, FC_C_WSTRING = 0x11, 0x12, 0x1B, 0x21, 0x25
# An array of string pointers: complex with 64-bit pointers, flat with 32-bit ones.
POINTER_ARRAY = (FC_BOGUS_ARRAY, FC_CARRAY)
ON_STACK_DEREF, DEREF = 0x14, 0x10
# (file, procedure, parameter, first format character, its flags byte or None)
EXPECTED = [
    ("opc_common", "IOPCCommon::GetErrorString", "ppString", FC_RP, ON_STACK_DEREF),
    ("opc_common", "IOPCCommon::SetClientName", "szName", FC_C_WSTRING, None),
    ("opc_common", "IOPCServerList2::GetClassDetails", "ppszVerIndProgID", FC_RP, ON_STACK_DEREF),
    ("opc_da", "IOPCServer::GetErrorString", "ppString", FC_RP, ON_STACK_DEREF),
    ("opc_da", "IOPCBrowseServerAddressSpace::GetItemID", "szItemID", FC_RP, ON_STACK_DEREF),
    ("opc_da", "IOPCGroupStateMgt::GetState", "ppName", FC_RP, ON_STACK_DEREF),
    ("opc_da", "IOPCItemProperties::QueryAvailableProperties", "ppDescriptions", FC_RP, ON_STACK_DEREF),
    ("opc_da", "IOPCItemProperties::LookupItemIDs", "ppszNewItemIDs", FC_RP, ON_STACK_DEREF),
    ("opc_common", "IOPCServerList::EnumClassesOfCategories", "rgcatidImpl", FC_CARRAY, None),
    ("opc_da", "IOPCBrowse::Browse", "pszContinuationPoint", FC_UP, DEREF),
    ("opc_da", "IOPCBrowse::GetProperties", "pszItemIDs", POINTER_ARRAY, None),
    ("opc_da", "IOPCItemIO::Read", "pszItemIDs", POINTER_ARRAY, None),
    ("opc_da", "IOPCItemIO::WriteVQT", "pszItemIDs", POINTER_ARRAY, None),
]


# (file, structure, memory offset of a [size_is] pointer in it, offset of its count field), in the
# 32-bit layout: OPCBROWSEELEMENT holds OPCITEMPROPERTIES 16 bytes in.
COUNTS = [
    ("opc_da", "OPCITEMPROPERTIES", 8, 4),
    ("opc_da", "OPCBROWSEELEMENT", 24, 20),
]
FC_PSTRUCT = 0x16


def pointee_count_offset(text, types, structure, memory):
    """The count offset of the array the flat layout of structure reaches at memory, or None
    where structure has no flat layout."""
    at = int(re.search(r"^/\* *(\d+) \(%s\) \*/" % structure, text, re.M).group(1))
    if types[at] != FC_PSTRUCT:
        return None
    for m in fix.LAYOUT_POINTER.finditer(fix.through_end(text, at)):
        if int(m.group(1)) == memory:
            target = int(m.group(4))
            return int.from_bytes(types[target + 6:target + 8], "little", signed=True)
    return "no pointer"


def offsets(text):
    """{(procedure, parameter): type offset}"""
    found = {}
    for m in fix.PARAM.finditer(text):
        found[(fix.procedure_of(text, m.start()), m.group(2))] = int(m.group(4), 16)
    return found


failures = []
checked = 0
for gen in sys.argv[2:]:
    sources = {}
    for name in sorted({e[0] for e in EXPECTED}):
        corrected = open("%s/%s_p.c" % (gen, name)).read()
        raw = open("%s/widl/%s_p.c" % (gen, name)).read()
        sources[name] = corrected
        _, left = fix.correct(corrected)
        failures += ["%s/%s_p.c still needs: %s" % (gen, name, line) for line in left]
        if fix.correct(raw)[0] != corrected:
            failures.append("%s/%s_p.c is not the correction of widl's output" % (gen, name))

    for name, proc, param, fc, flags in EXPECTED:
        text = sources[name]
        types = fix.type_bytes(text)
        at = offsets(text).get((proc, param))
        checked += 1
        if at is None:
            failures.append("%s %s %s: not found" % (gen, proc, param))
            continue
        got = (types[at], types[at + 1] if flags is not None else None)
        if got[0] not in (fc if isinstance(fc, tuple) else (fc,)) or got[1] != flags:
            failures.append("%s %s %s: entry %d starts %s, expected %s" % (
                gen, proc, param, at, got, (fc, flags)))

    for name, structure, memory, count in COUNTS:
        text = sources[name]
        got = pointee_count_offset(text, fix.type_bytes(text), structure, memory)
        checked += 1
        if got is not None and got != count:
            failures.append("%s %s: the pointer %d bytes in counts from offset %s, expected %d" % (
                gen, structure, memory, got, count))

for line in failures:
    print("FAIL " + line)
print("%d entries checked, %d failures" % (checked, len(failures)))
sys.exit(1 if failures else 0)
