#!/usr/bin/env python3
"""Corrects the parameter type offsets of a widl stubless (-Oif) proxy/stub source.

widl 7 and 8 give some string parameters a type offset past the right entry:
- [out] and [in,out] LPWSTR * and LPWSTR ** parameters start at the pointee (an FC_OP entry, or
  the array an FC_OP points at) instead of the top-level pointer before it: such strings
  arrive NULL or the call fails. A parameter that is neither a base type, a simple reference
  nor passed by value always starts at a top-level pointer (FC_RP, FC_UP, FC_FP), an interface
  pointer, a user-marshalled type or, for an array parameter, its array.
- [in, string, size_is] LPWSTR * parameters (simple references) start in the middle of their
  array's description: the call is refused with RPC_X_BAD_STUB_DATA. widl marks every entry it
  writes with its offset in a comment; a parameter never starts anywhere else.
Each such offset is moved back to the top-level entry whose chain of pointers (one or two
links, four bytes each) leads to it.

  FixStublessProxy.py IN OUT      writes the corrected source, lists the corrections
  FixStublessProxy.py --check IN  exits 1 listing the parameters that need correcting
"""
import re
import sys

FC_RP, FC_UP, FC_OP, FC_FP, FC_IP, FC_USER_MARSHAL = 0x11, 0x12, 0x13, 0x14, 0x2F, 0xB4
TOP_LEVEL = (FC_RP, FC_UP, FC_FP, FC_IP, FC_USER_MARSHAL)
IS_SIMPLE_REF, IS_BASETYPE, IS_BY_VALUE = 0x0100, 0x0040, 0x0080
TOKEN = re.compile(r"NdrFcLong\((0x[0-9a-fA-F]+)\)|NdrFcShort\((0x[0-9a-fA-F]+)\)|\b(0x[0-9a-fA-F]+),")


def type_bytes(text):
    """The bytes of __MIDL_TypeFormatString."""
    start = text.index("__MIDL_TypeFormatString =")
    body = text[text.index("{", text.index("{", start) + 1) + 1:]
    body = body[:body.index("}")]
    out = bytearray()
    for line in body.splitlines():
        code = line.split("/*")[0]
        for long_, short, byte in TOKEN.findall(code):
            if long_:
                out += int(long_, 16).to_bytes(4, "little")
            elif short:
                out += int(short, 16).to_bytes(2, "little")
            else:
                out.append(int(byte, 16))
    return bytes(out)


PARAM = re.compile(
    r"(/\* \d+ \(parameter (\w+)\) \*/\s*\n"
    r"\s*NdrFcShort\((0x[0-9a-fA-F]+)\),[^\n]*\n"
    r"\s*NdrFcShort\(0x[0-9a-fA-F]+\),[^\n]*\n\s*)"
    r"NdrFcShort\((0x[0-9a-fA-F]+)\),(\s*/\* type offset = \d+ \*/)?")


def procedure_of(text, pos):
    names = re.findall(r"\(procedure (\w+::\w+)\)", text[:pos])
    return names[-1] if names else "?"


def points_at(types, pointer, target, kinds=(FC_RP, FC_UP)):
    """Whether the entry at pointer is a pointer of those kinds whose pointee is target."""
    if pointer < 0 or types[pointer] not in kinds:
        return False
    return pointer + 2 + int.from_bytes(types[pointer + 2:pointer + 4], "little", signed=True) == target


def leads_to(types, start, target):
    """Whether a top-level pointer at start reaches target through pointers four bytes apart."""
    at = start
    while at + 4 < target:
        if not points_at(types, at, at + 4, (FC_RP, FC_UP, FC_OP)):
            return False
        at += 4
    return at + 4 == target and points_at(types, at, target, (FC_RP, FC_UP, FC_OP)) and \
        types[start] in (FC_RP, FC_UP)


def correct(text):
    """(corrected text, list of 'Interface::Method parameter old -> new')"""
    types = type_bytes(text)
    table = text[text.index("__MIDL_TypeFormatString ="):]
    entries = {int(n) for n in re.findall(r"/\* (\d+)(?: \(| \*/)", table)}
    fixes = []

    def repl(m):
        flags, offset = int(m.group(3), 16), int(m.group(4), 16)
        where = "%s %s" % (procedure_of(text, m.start()), m.group(2))
        if flags & (IS_BASETYPE | IS_BY_VALUE):
            return m.group(0)
        if flags & IS_SIMPLE_REF:
            if offset in entries:
                return m.group(0)
            back = offset - 4
            ok = back in entries and points_at(types, back - 4, back)
        else:
            if types[offset] in TOP_LEVEL:
                return m.group(0)
            back = next((offset - k for k in (4, 8) if leads_to(types, offset - k, offset)), None)
            if back is None and types[offset] != FC_OP:
                return m.group(0)  # an array parameter ([in] CATID ids[]) starts at its array
            ok = back is not None
        if not ok:
            raise SystemExit("%s: type offset %d is wrong and no pointer leads to it" % (where, offset))
        fixes.append("%s %d -> %d" % (where, offset, back))
        return "%sNdrFcShort(0x%x),\t/* type offset = %d */" % (m.group(1), back, back)

    return PARAM.sub(repl, text), fixes


def main(argv):
    if len(argv) == 3 and argv[1] == "--check":
        _, wrong = correct(open(argv[2]).read())
        for line in wrong:
            print(line)
        return 1 if wrong else 0
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    text, fixes = correct(open(argv[1]).read())
    with open(argv[2], "w") as out:
        out.write(text)
    for line in fixes:
        print("corrected " + line)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
