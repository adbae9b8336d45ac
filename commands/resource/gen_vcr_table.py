#!/usr/bin/env python3
"""Builds an MCI command table resource and its string table from a text table.

Input: the readable table (see the head of vcr_commands.txt for its lines).
Outputs, each optional:
  --bin FILE      the raw resource bytes (entries: UTF-16LE keyword + NUL,
                  32-bit LE value, 16-bit LE type; no padding)
  --header FILE   a C++ header with the bytes and the string table
  --strings-rc F  a STRINGTABLE fragment for the Windows resource compiler
  --table-rc F    an RCDATA statement naming the --bin file
--expect-entries / --expect-bytes make the build fail when the table drifts.
"""
import argparse
import shlex
import struct
import sys

HEAD, STRING, INTEGER, END_COMMAND, RETURN, FLAG, END_LIST, CONSTANT, END_CONSTANT = (
    0, 1, 2, 3, 4, 5, 6, 8, 9)
ITEM_TYPES = {"flag": FLAG, "integer": INTEGER, "string": STRING}
RETURN_TYPES = {"string": 1, "integer": 2}
COMMON_FLAGS = [("notify", 0x1), ("wait", 0x2), ("test", 0x20)]


class TableError(Exception):
    pass


def parse(path):
    """Returns (entries, strings): entries as (keyword, value, type)."""
    entries, strings = [], {}
    state = "top"  # top, command, constant
    items_in_command = 0
    with open(path, encoding="utf-8") as f:
        for lineno, raw in enumerate(f, 1):
            line = raw.strip()
            if not line or line.startswith("#"):
                continue
            try:
                words = shlex.split(line)
            except ValueError as e:
                raise TableError(f"{path}:{lineno}: {e}")
            kind = words[0]

            def need(n):
                if len(words) != n:
                    raise TableError(f"{path}:{lineno}: '{kind}' takes {n - 1} arguments")

            def number(text):
                try:
                    v = int(text, 0)
                except ValueError:
                    raise TableError(f"{path}:{lineno}: not a number: {text}")
                if not 0 <= v <= 0xFFFFFFFF:
                    raise TableError(f"{path}:{lineno}: value out of range: {text}")
                return v

            if kind == "string-id":
                need(3)
                sid = number(words[1])
                if sid in strings:
                    raise TableError(f"{path}:{lineno}: string {sid} given twice")
                strings[sid] = words[2]
            elif kind == "command":
                need(3)
                if state != "top":
                    raise TableError(f"{path}:{lineno}: command inside a command")
                entries.append((words[1], number(words[2]), HEAD))
                state, items_in_command = "command", 0
                pending_common = True
            elif kind == "return":
                need(2)
                if state != "command" or items_in_command != 0:
                    raise TableError(f"{path}:{lineno}: return must be a command's first item")
                if words[1] not in RETURN_TYPES:
                    raise TableError(f"{path}:{lineno}: return integer or string")
                entries.append(("", RETURN_TYPES[words[1]], RETURN))
                items_in_command += 1
            elif kind in ITEM_TYPES or kind == "constant":
                need(3)
                if state == "top":
                    raise TableError(f"{path}:{lineno}: item outside a command")
                if state == "command" and pending_common:
                    entries.extend((w, v, FLAG) for w, v in COMMON_FLAGS)
                    items_in_command += len(COMMON_FLAGS)
                    pending_common = False
                if kind == "constant":
                    if state == "constant":
                        raise TableError(f"{path}:{lineno}: constant inside a constant")
                    state = "constant"
                    entries.append((words[1], number(words[2]), CONSTANT))
                else:
                    entries.append((words[1], number(words[2]), ITEM_TYPES[kind]))
                items_in_command += 1
            elif kind == "end":
                need(1)
                if state == "constant":
                    entries.append(("", 0, END_CONSTANT))
                    items_in_command += 1
                    state = "command"
                elif state == "command":
                    if pending_common:
                        entries.extend((w, v, FLAG) for w, v in COMMON_FLAGS)
                    entries.append(("", 0, END_COMMAND))
                    state = "top"
                else:
                    raise TableError(f"{path}:{lineno}: 'end' outside a command")
            else:
                raise TableError(f"{path}:{lineno}: unknown line '{kind}'")
    if state != "top":
        raise TableError(f"{path}: table ends inside a command")
    entries.append(("", 0, END_LIST))
    return entries, strings


def encode(entries):
    out = bytearray()
    for keyword, value, etype in entries:
        out += keyword.encode("utf-16-le") + b"\0\0"
        out += struct.pack("<IH", value, etype)
    return bytes(out)


def c_string(text):
    return '"' + "".join(c if c.isprintable() and c not in '"\\' else f"\\x{ord(c):02x}"
                         for c in text) + '"'


def write_if_changed(path, data):
    mode = "wb" if isinstance(data, bytes) else "w"
    try:
        with open(path, "rb" if mode == "wb" else "r",
                  **({} if mode == "wb" else {"encoding": "utf-8"})) as f:
            if f.read() == data:
                return
    except OSError:
        pass
    with open(path, mode, **({} if mode == "wb" else {"encoding": "utf-8", "newline": "\n"})) as f:
        f.write(data)


def header_text(args, blob, entries, strings):
    lines = [
        f"// Generated by gen_vcr_table.py from {args.input.split('/')[-1]}; do not edit.",
        "#pragma once", "", "#include <array>", "#include <cstddef>", "#include <cstdint>", "",
        f"namespace {args.namespace} {{", "",
        "struct ResourceString {", "  unsigned id;", "  const char* text;", "};", "",
        f"inline constexpr std::size_t k{args.symbol}EntryCount = {len(entries)};",
        f"inline constexpr std::array<std::uint8_t, {len(blob)}> k{args.symbol}CommandTable = {{",
    ]
    for i in range(0, len(blob), 16):
        lines.append("    " + ", ".join(f"0x{b:02X}" for b in blob[i:i + 16]) + ",")
    lines.append("};")
    lines.append(f"inline constexpr std::array<ResourceString, {len(strings)}> "
                 f"k{args.symbol}Strings = {{{{")
    for sid in sorted(strings):
        lines.append(f"    {{{sid}, {c_string(strings[sid])}}},")
    lines += ["}};", "", f"}}  // namespace {args.namespace}", ""]
    return "\n".join(lines)


def strings_rc_text(strings):
    lines = ["// Generated by gen_vcr_table.py; do not edit.",
             "LANGUAGE 0x09, 0x01  // 1033, English (United States)", "STRINGTABLE", "BEGIN"]
    for sid in sorted(strings):
        text = strings[sid].replace('"', '""')
        lines.append(f'  {sid}, "{text}"')
    lines += ["END", ""]
    return "\n".join(lines)


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--input", required=True)
    p.add_argument("--resource-name", default="VCR")
    p.add_argument("--namespace", default="vtr::resource")
    p.add_argument("--symbol", default="Vcr")
    p.add_argument("--bin")
    p.add_argument("--header")
    p.add_argument("--strings-rc")
    p.add_argument("--table-rc")
    p.add_argument("--expect-entries", type=int)
    p.add_argument("--expect-bytes", type=int)
    args = p.parse_args()
    try:
        entries, strings = parse(args.input)
    except (OSError, TableError) as e:
        print(f"gen_vcr_table: {e}", file=sys.stderr)
        return 1
    blob = encode(entries)
    if args.expect_entries is not None and len(entries) != args.expect_entries:
        print(f"gen_vcr_table: {len(entries)} entries, expected {args.expect_entries}",
              file=sys.stderr)
        return 1
    if args.expect_bytes is not None and len(blob) != args.expect_bytes:
        print(f"gen_vcr_table: {len(blob)} bytes, expected {args.expect_bytes}", file=sys.stderr)
        return 1
    if args.bin:
        write_if_changed(args.bin, blob)
    if args.header:
        write_if_changed(args.header, header_text(args, blob, entries, strings))
    if args.strings_rc:
        write_if_changed(args.strings_rc, strings_rc_text(strings))
    if args.table_rc:
        bin_path = (args.bin or "").replace("\\", "/")
        write_if_changed(args.table_rc,
                         "// Generated by gen_vcr_table.py; do not edit.\n"
                         "LANGUAGE 0x09, 0x01  // 1033, English (United States)\n"
                         f'{args.resource_name} RCDATA "{bin_path}"\n')
    return 0


if __name__ == "__main__":
    sys.exit(main())
