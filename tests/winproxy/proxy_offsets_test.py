#!/usr/bin/env python3
"""The string parameters of the generated OPC proxies start at the right type entries.

  proxy_offsets_test.py CMAKE_DIR GENERATED_DIR
The corrected proxy sources need no further correction, and each string parameter below starts
at the entry its declaration calls for (the first format character, and its flags byte where
that matters); widl's own output gets several of them wrong."""
import re
import sys

sys.path.insert(0, sys.argv[1])
import FixStublessProxy as fix  # noqa: E402

GEN = sys.argv[2]
FC_RP, FC_UP, FC_CARRAY, FC_BOGUS_ARRAY, FC_C_WSTRING = 0x11, 0x12, 0x1B, 0x21, 0x25
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
    ("opc_da", "IOPCBrowse::GetProperties", "pszItemIDs", FC_BOGUS_ARRAY, None),
    ("opc_da", "IOPCItemIO::Read", "pszItemIDs", FC_BOGUS_ARRAY, None),
    ("opc_da", "IOPCItemIO::WriteVQT", "pszItemIDs", FC_BOGUS_ARRAY, None),
]


def offsets(text):
    """{(procedure, parameter): type offset}"""
    found = {}
    for m in fix.PARAM.finditer(text):
        found[(fix.procedure_of(text, m.start()), m.group(2))] = int(m.group(4), 16)
    return found


failures = []
sources = {}
for name in sorted({e[0] for e in EXPECTED}):
    corrected = open("%s/%s_p.c" % (GEN, name)).read()
    raw = open("%s/widl/%s_p.c" % (GEN, name)).read()
    sources[name] = corrected
    _, left = fix.correct(corrected)
    failures += ["%s_p.c still needs: %s" % (name, line) for line in left]
    if fix.correct(raw)[0] != corrected:
        failures.append("%s_p.c is not the correction of widl's output" % name)

for name, proc, param, fc, flags in EXPECTED:
    text = sources[name]
    types = fix.type_bytes(text)
    at = offsets(text).get((proc, param))
    if at is None:
        failures.append("%s %s: not found" % (proc, param))
        continue
    got = (types[at], types[at + 1] if flags is not None else None)
    if got != (fc, flags):
        failures.append("%s %s: entry %d starts %s, expected %s" % (proc, param, at, got, (fc, flags)))

for line in failures:
    print("FAIL " + line)
print("%d parameters checked, %d failures" % (len(EXPECTED), len(failures)))
sys.exit(1 if failures else 0)
