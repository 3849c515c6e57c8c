#!/usr/bin/env python3
"""The message compiler: a readable message source becomes a message catalog.

A source holds one language's messages (messages/EN_US.txt, messages/DE_DE.txt, ...):

    # a comment
    <number> <identifier> <text>
        response: <response string>          (optional, on the line after its message)

The identifier is "ANS", the number in four or five digits, and a severity letter out of
Z T R K I W E S L M. The text runs to the end of the line; put it in double quotes to keep
blanks at its ends. Escapes: \\n newline, \\t tab, \\\\ backslash, \\" quote, {{ and }} braces.

Inserts are written {name:conversion} in the American English source, the master: the
conversion is printf's without its "%" ("s", "d", "lu", ".*s", "ls", ...), and the order in
which the inserts appear there is the order in which callers pass them. A name may be a word or
the insert's position (1, 2, ...). A translation writes {name} (or {name:conversion}, which
must then agree with the master) and may place its inserts in any order.

Each entry of the catalog (set 1, the message number) is the identifier, a blank and a body:
a printf body (the byte 0x01 and a printf format) when the inserts keep the caller's order, or
a compiled body (kind 0: slot count, order table, one descriptor per slot, literal segments)
when a translation reorders them; zero bytes are stored as 0x10, and a response string follows
a 0x12 byte. gencat then writes the catalog.

Usage: msgcompile.py [--master EN_US.txt] SOURCE [-o CATALOG] [--gencat-source FILE]
A fault is reported as "FILE:LINE: error: ..." and ends the run with status 1.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

MAX_SLOTS = 12
MAX_RESPONSE = 14
MAX_ENTRY = 8000  # well inside what the reader converts and the insert area holds
SEVERITIES = "ZTRKIWESLM"
IDENTIFIER = re.compile(r"^ANS(\d{4,5})([A-Z])$")
CONVERSION = re.compile(r"^([-+ #0']*)(\*|\d+)?(?:\.(\*|\d*))?(hh|h|ll|l|j|z|t)?([diouxXcsSpfFeEgGaA])$")
INSERT = re.compile(r"\{([A-Za-z_][A-Za-z0-9_]*|[1-9][0-9]*)(?::([^}]*))?\}")


class SourceError(Exception):
    def __init__(self, path, line, text):
        super().__init__(f"{path}:{line}: error: {text}")


class Insert:
    def __init__(self, name, conversion, stars, kind):
        self.name, self.conversion, self.stars, self.kind = name, conversion, stars, kind


class Message:
    def __init__(self, number, identifier, severity, line):
        self.number, self.identifier, self.severity, self.line = number, identifier, severity, line
        self.pieces = []  # literal strings and Insert names, in text order
        self.response = ""


def insert_kind(conversion):
    """Value type and star count of a conversion: 0 pointer or string, 1 int, 2 64-bit, 3 double."""
    m = CONVERSION.match(conversion)
    if not m:
        return None
    flags, width, precision, length, letter = m.groups()
    stars = (width == "*") + (precision == "*")
    length = length or ""
    if letter in "sS":
        ok = length in ("", "l") and letter == "s"
        kind = 0
    elif letter == "p":
        ok, kind = length == "", 0
    elif letter == "c":
        ok, kind = length in ("", "l"), 1
    elif letter in "diouxX":
        if length in ("", "h", "hh"):
            ok, kind = True, 1
        else:
            ok, kind = True, 2
    else:
        ok, kind = length in ("", "l"), 3
    return (kind, stars) if ok else None


def unescape(text, fail):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\":
            if i + 1 >= len(text):
                fail("a backslash ends the text")
            n = text[i + 1]
            if n not in 'nt\\"':
                fail(f"unknown escape \\{n}")
            out.append({"n": "\n", "t": "\t", "\\": "\\", '"': '"'}[n])
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def split_text(text, fail):
    """Literal strings and (name, conversion) pairs, braces unescaped."""
    pieces, pos = [], 0
    literal = []
    while pos < len(text):
        if text.startswith("{{", pos) or text.startswith("}}", pos):
            literal.append(text[pos])
            pos += 2
            continue
        if text[pos] == "{":
            m = INSERT.match(text, pos)
            if not m:
                fail(f"a brace that starts no insert at column {pos + 1} (write {{{{ for a brace)")
            pieces.append("".join(literal))
            literal = []
            pieces.append((m.group(1), m.group(2)))
            pos = m.end()
            continue
        if text[pos] == "}":
            fail(f"a lone closing brace at column {pos + 1} (write }}}} for a brace)")
        literal.append(text[pos])
        pos += 1
    pieces.append("".join(literal))
    return pieces


def read_source(path):
    messages, last = {}, None
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\n")

            def fail(text):
                raise SourceError(path, number, text)

            if not line.strip() or line.lstrip().startswith("#"):
                continue
            if line[0].isspace():
                key, _, value = line.strip().partition(":")
                if key != "response" or last is None:
                    fail("an indented line must be the response string of the message above it")
                response = unescape(value.strip(), fail)
                if not response or len(response.encode()) > MAX_RESPONSE:
                    fail(f"a response string has 1 to {MAX_RESPONSE} bytes")
                if any(ord(c) < 32 for c in response):
                    fail("control characters in the response string")
                last.response = response
                continue
            parts = line.split(None, 2)
            if len(parts) < 3:
                fail("expected: number, identifier, text")
            num_text, identifier, text = parts
            if not num_text.isdigit() or not 0 < int(num_text) < 65536:
                fail(f"'{num_text}' is not a message number (1 to 65535)")
            msg_num = int(num_text)
            m = IDENTIFIER.match(identifier)
            if not m:
                fail(f"'{identifier}' is not an identifier: ANS, four or five digits, a letter")
            if int(m.group(1)) != msg_num:
                fail(f"identifier {identifier} does not carry the number {msg_num}")
            if m.group(2) not in SEVERITIES:
                fail(f"'{m.group(2)}' is not a severity letter ({' '.join(SEVERITIES)})")
            if msg_num in messages:
                fail(f"message {msg_num} is defined twice (first on line {messages[msg_num].line})")
            if len(text) >= 2 and text[0] == '"' and text[-1] == '"':
                text = text[1:-1]
            text = unescape(text, fail)
            if any(ord(c) < 32 and c not in "\n\t" for c in text):
                fail("control characters in the text")
            msg = Message(msg_num, identifier, m.group(2), number)
            msg.pieces = split_text(text, fail)
            msg.fail = fail
            messages[msg_num] = msg
            last = msg
    return messages


def resolve_master(msg):
    """The master's inserts in caller order; checks each appears once with a usable conversion."""
    inserts, seen = [], set()
    for piece in msg.pieces[1::2]:
        name, conversion = piece
        if name in seen:
            msg.fail(f"insert {{{name}}} appears twice")
        seen.add(name)
        if conversion is None:
            msg.fail(f"insert {{{name}}} needs its conversion in this source, e.g. {{{name}:s}}")
        kind = insert_kind(conversion)
        if kind is None:
            msg.fail(f"'{conversion}' is not a conversion the message system formats")
        if name.isdigit() and int(name) != len(inserts) + 1:
            msg.fail(f"numbered insert {{{name}}} out of order: the master lists inserts as "
                     "callers pass them")
        inserts.append(Insert(name, conversion, kind[1], kind[0]))
    if len(inserts) > MAX_SLOTS:
        msg.fail(f"{len(inserts)} inserts; a message holds at most {MAX_SLOTS}")
    return inserts


def slots_of(msg, master_inserts):
    """The message's inserts in text order, as indexes into the caller's order."""
    by_name = {ins.name: i for i, ins in enumerate(master_inserts)}
    order, seen = [], set()
    for name, conversion in msg.pieces[1::2]:
        index = int(name) - 1 if name.isdigit() else by_name.get(name)
        if index is None or not 0 <= index < len(master_inserts):
            msg.fail(f"insert {{{name}}} is not one of the message's inserts "
                     f"({', '.join(i.name for i in master_inserts) or 'none'})")
        if conversion is not None and conversion != master_inserts[index].conversion:
            msg.fail(f"insert {{{name}}} is '{master_inserts[index].conversion}' in the master")
        if index in seen:
            msg.fail(f"insert {{{name}}} appears twice")
        seen.add(index)
        order.append(index)
    if len(order) != len(master_inserts):
        missing = [master_inserts[i].name for i in range(len(master_inserts)) if i not in seen]
        msg.fail(f"inserts missing: {', '.join(missing)}")
    return order


def body_of(msg, master_inserts):
    """The body bytes, zero bytes still zero."""
    text_order = slots_of(msg, master_inserts)
    literals = [p.encode("utf-8") for p in msg.pieces[0::2]]
    if text_order == sorted(text_order):
        fmt = bytearray()
        for i, lit in enumerate(literals):
            fmt += lit.replace(b"%", b"%%")
            if i < len(text_order):
                fmt += b"%" + master_inserts[text_order[i]].conversion.encode()
        return b"\x01" + bytes(fmt)
    n = len(text_order)
    body = bytearray([0, 0x0E, 0, 0, 0, n])
    body += bytes(text_order.index(k) for k in range(n))  # argument k goes to this slot
    for index in text_order:
        ins = master_inserts[index]
        body += bytes([ins.stars, ins.kind]) + b"%" + ins.conversion.encode() + b"\0"
    for lit in literals:
        body += lit + b"\0"
    return bytes(body)


def entry_of(msg, master_inserts):
    body = body_of(msg, master_inserts)
    if body[0] == 0:
        body = body.replace(b"\0", b"\x10")
    entry = msg.identifier.encode() + b" " + body
    if msg.response:
        entry += b"\x12" + msg.response.encode("utf-8")
    if len(entry) > MAX_ENTRY:
        msg.fail(f"the entry has {len(entry)} bytes; at most {MAX_ENTRY}")
    return entry


def gencat_line(number, entry):
    """One line of gencat's input: blanks and control bytes as octal escapes, UTF-8 as it is (gencat reads it in a UTF-8 locale)."""
    out = bytearray(b"%d " % number)
    for b in entry:
        if b <= 0x20 or b == 0x7F:
            out += b"\\%03o" % b
        elif b == 0x5C:
            out += b"\\\\"
        else:
            out.append(b)
    return bytes(out) + b"\n"


def write_gencat_source(path, entries):
    with open(path, "wb") as f:
        f.write(b"$ made by the message compiler from a message source\n$set 1\n")
        for number in sorted(entries):
            f.write(gencat_line(number, entries[number]))


def compile_source(source, master=None):
    messages = read_source(source)
    masters = read_source(master) if master else messages
    entries = {}
    for number, msg in sorted(messages.items()):
        ref = masters.get(number)
        if ref is None:
            msg.fail(f"message {number} is not in the master {master}")
        if ref.identifier != msg.identifier:
            msg.fail(f"identifier {msg.identifier} differs from the master's {ref.identifier}")
        entries[number] = entry_of(msg, resolve_master(ref))
    return entries


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("source")
    parser.add_argument("--master", help="the American English source (default: SOURCE itself)")
    parser.add_argument("-o", "--output", help="the catalog to write")
    parser.add_argument("--gencat-source", help="also keep gencat's input here")
    parser.add_argument("--gencat", default="gencat")
    args = parser.parse_args()
    try:
        entries = compile_source(args.source, args.master)
    except SourceError as e:
        print(e, file=sys.stderr)
        return 1
    except OSError as e:
        print(f"{e.filename}: error: {e.strerror}", file=sys.stderr)
        return 1
    with tempfile.TemporaryDirectory() as tmp:
        msg_path = args.gencat_source or os.path.join(tmp, "catalog.msg")
        write_gencat_source(msg_path, entries)
        if args.output:
            os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
            if os.path.exists(args.output):
                os.remove(args.output)  # gencat would merge into an old catalog
            env = dict(os.environ, LC_ALL="C.UTF-8")
            done = subprocess.run([args.gencat, args.output, msg_path], env=env)
            if done.returncode != 0:
                print(f"{args.source}: error: gencat failed ({done.returncode})", file=sys.stderr)
                return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
