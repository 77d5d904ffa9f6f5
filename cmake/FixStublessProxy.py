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

widl also describes the array of a [size_is(field)] pointer once, with the field's offset from
the start of the structure holding the pointer. In the flat pointer layout of an outer structure
that embeds this one (FC_PSTRUCT and its arrays: 32-bit only, as a 64-bit structure with pointers
is never flat), the engine counts that offset from the outer structure's start and reads the
count from another field (OPCBROWSEELEMENT embeds OPCITEMPROPERTIES 16 bytes in: the browse
results' properties). Such a pointer gets a copy of the array, appended to the type format string,
whose offset counts from the outer structure.

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


def correct_parameters(text):
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


# A pointer of a flat layout: its memory offset, then (after the buffer offset) a pointer entry
# naming its pointee by a relative offset.
LAYOUT_POINTER = re.compile(
    r"/\* Memory offset = (\d+) \*/\n[^\n]*\n\s*0x1[123], 0x[0-9a-fA-F]+,[^\n]*\n"
    r"(\s*)NdrFcShort\(0x[0-9a-fA-F]+\),\s*/\* Offset= (-?\d+) \((\d+)\) \*/")
RELATIVE = re.compile(r"NdrFcShort\(0x[0-9a-fA-F]+\),(\s*)/\* Offset= (-?\d+) \((\d+)\) \*/")
POINTER_CORRELATION = re.compile(r"(Corr desc: field pointer [^\n]*\n[^\n]*\n\s*)"
                                 r"NdrFcShort\((0x[0-9a-fA-F]+)\),(\s*)/\* offset = (-?\d+) \*/")
FC_CARRAY, FC_CVARRAY, FC_BOGUS_ARRAY, FC_EMBEDDED_COMPLEX = 0x1B, 0x1C, 0x21, 0x4C
FC_POINTER_CONFORMANCE = 0x10


def short(value):
    return "NdrFcShort(0x%x)" % (value & 0xFFFF)


def through_end(text, at):
    """The lines of the type entry at offset at, up to its first FC_END: an array of structures
    whole, a flat structure's pointer layout."""
    start = text.index("/* %d (" % at, text.index("__MIDL_TypeFormatString ="))
    return text[start:text.index("\n", text.index("/* FC_END */", start)) + 1]


def byte_count(lines):
    """How many bytes a run of format string lines holds."""
    return sum(4 if long_ else 2 if short_ else 1
               for line in lines.splitlines()
               for long_, short_, _ in TOKEN.findall(line.split("/*")[0]))


def moved(lines, old, new):
    """Entry lines moved from offset old to new: their offset marks follow, their relative
    offsets still reach what they did."""
    def relative(r):
        pointee = int(r.group(3))
        field = pointee - int(r.group(2)) - old + new
        return "%s,%s/* Offset= %d (%d) */" % (short(pointee - field), r.group(1), pointee - field,
                                                pointee)
    lines = re.sub(r"^/\* *(\d+)", lambda n: "/* %d" % (int(n.group(1)) - old + new), lines,
                   flags=re.M)
    return RELATIVE.sub(relative, lines)


def separate_embedded_arrays(text):
    """(corrected text, list of 'entry: copy at offset for pointers N bytes in')"""
    types = type_bytes(text)
    uses = {}  # pointee -> [(memory offset, relative offset, match)]
    for m in LAYOUT_POINTER.finditer(text):
        target = int(m.group(4))
        if types[target] in (FC_CARRAY, FC_CVARRAY, FC_BOGUS_ARRAY) and \
                types[target + 4] & 0xF0 == FC_POINTER_CONFORMANCE:
            uses.setdefault(target, []).append((int(m.group(1)), int(m.group(3)), m))
    for target, refs in uses.items():
        # The one kind met so far, copied whole: an array of structures (12 bytes, the
        # embedded structure's entry, padding, FC_END).
        if len({r[0] for r in refs}) > 1 and (types[target] != FC_BOGUS_ARRAY or
                                               types[target + 12] != FC_EMBEDDED_COMPLEX):
            raise SystemExit("%d: an array reached at several offsets, of a kind not copied" % target)
    end = int(re.search(r"#define TYPE_FORMAT_STRING_SIZE (\d+)", text).group(1)) - 1
    copies, edits, fixes = [], [], []
    for target, refs in sorted(uses.items()):
        home = min(r[0] for r in refs)  # the pointer in the structure that holds it
        for shift in sorted({r[0] - home for r in refs} - {0}):
            at = end  # the copy goes before the closing zero byte
            copy = POINTER_CORRELATION.sub(
                lambda c: "%s%s,%s/* offset = %d */" % (c.group(1), short(int(c.group(4)) + shift),
                                                      c.group(3), int(c.group(4)) + shift),
                moved(through_end(text, target), target, at))
            copies.append(copy)
            end += byte_count(copy)
            for memory, relative, m in refs:
                if memory - home == shift:
                    field = target - relative
                    edits.append((m.start(2), m.end(), "%s%s,\t/* Offset= %d (%d) */" % (
                        m.group(2), short(at - field), at - field, at)))
            fixes.append("%d: copy at %d for pointers %d bytes in" % (target, at, shift))
    if not copies:
        return text, fixes
    for start, stop, new in sorted(edits, reverse=True):
        text = text[:start] + new + text[stop:]
    close = re.compile(r"\n\s*0x0\n\s*\}\n\};").search(
        text, text.index("__MIDL_TypeFormatString ="))
    text = text[:close.start() + 1] + "".join(copies) + text[close.start() + 1:]
    return re.sub(r"#define TYPE_FORMAT_STRING_SIZE \d+",
                  "#define TYPE_FORMAT_STRING_SIZE %d" % (end + 1), text, count=1), fixes


def correct(text):
    """(corrected text, list of corrections): string parameters, then embedded arrays."""
    text, fixes = correct_parameters(text)
    text, more = separate_embedded_arrays(text)
    return text, fixes + more


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
