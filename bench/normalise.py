#!/usr/bin/env python3
"""Reduces a benchmark output to "COUNT CHECKSUM": the number of records and
a checksum of a normalised form, so that outputs of different tools that are
meant to hold the same data can be compared.

    normalise.py csv DELIMITER [--header] FILE    CSV records (RFC 4180 quoting)
    normalise.py split DELIMITER COLUMNS FILE     one record a line, split at
                                                  the first COLUMNS-1 delimiters
    normalise.py xml TAG FILE                     every element TAG at any depth;
                                                  FILE may be a fragment
    normalise.py json FILE                        the first list of objects
                                                  found (depth first), or the
                                                  whole value as one record
    normalise.py json-value FILE                  the whole value, one record
    normalise.py count-csv FILE | count-xml TAG FILE | count-json KEY FILE
                                                  the count alone, without
                                                  parsing (for big files);
                                                  JSON records are the
                                                  compact objects whose first
                                                  key is KEY
    normalise.py number FILE                      the number a value file
                                                  holds, as the count ("1e+06"
                                                  and "1000000" alike)

FILE "-" reads standard input. The normalised form ignores what tools write
differently for the same data: a leading byte order mark, CR LF or LF line
ends, quoting, CDATA against escaped text, numbers written as 100 or 100.0,
an empty value against a missing element (NULL). Record order counts.
"""

import csv
import hashlib
import html
import io
import json
import re
import sys
import xml.etree.ElementTree as ElementTree

CHUNK = 1 << 20


def value(text):
    """The normalised text of one field: numbers compare by value."""
    if text is None:
        return ""
    text = text.strip()
    if text and (text[0].isdigit() or text[0] in "+-."):
        try:
            number = float(text)
            if number == number and number not in (float("inf"), float("-inf")):
                return repr(number)
        except ValueError:
            pass
    return text


class Digest:
    def __init__(self):
        self.count = 0
        self.hash = hashlib.md5()

    def add(self, fields):
        self.count += 1
        self.hash.update(("\x1f".join(fields) + "\x1e").encode("utf-8", "surrogatepass"))

    def add_named(self, pairs):
        # Named fields: an empty value and a missing one are the same NULL.
        self.add(["%s=%s" % (name, text) for name, text in pairs if text != ""])

    def line(self):
        return "%d %s" % (self.count, self.hash.hexdigest())


def open_binary(path):
    return sys.stdin.buffer if path == "-" else open(path, "rb")


def open_text(path):
    return io.TextIOWrapper(open_binary(path), encoding="utf-8-sig", newline="")


def normalise_csv(delimiter, header, path):
    digest = Digest()
    rows = csv.reader(open_text(path), delimiter=delimiter, quotechar='"')
    for i, row in enumerate(rows):
        if header and i == 0:
            continue
        digest.add([value(field) for field in row])
    return digest


def normalise_split(delimiter, columns, path):
    digest = Digest()
    for line in open_text(path):
        line = line.rstrip("\r\n")
        digest.add([value(field) for field in line.split(delimiter, columns - 1)])
    return digest


ATTRIBUTE = re.compile(r'([^\s=]+)\s*=\s*(?:"([^"]*)"|\'([^\']*)\')')
CHILD = re.compile(r"<([^\s/>!?]+)(\s[^>]*)?(?:/>|>((?:[^<]|<!\[CDATA\[.*?\]\]>)*)</\1\s*>)",
                   re.DOTALL)
CDATA = re.compile(r"<!\[CDATA\[(.*?)\]\]>", re.DOTALL)


def xml_text(raw):
    """Character data as written (escaped text and CDATA sections) to text."""
    if "<" not in raw:
        return html.unescape(raw) if "&" in raw else raw
    parts = []
    last = 0
    for match in CDATA.finditer(raw):
        parts.append(html.unescape(raw[last:match.start()]))
        parts.append(match.group(1))
        last = match.end()
    parts.append(html.unescape(raw[last:]))
    return "".join(parts)


def record_fields(attributes, body):
    """The named fields of one record: its attributes, then its child
    elements. None when a child holds elements of its own: ElementTree reads
    such a record."""
    fields = []
    if attributes:
        for name, double, single in sorted(ATTRIBUTE.findall(attributes)):
            fields.append(("@" + name, value(xml_text(double or single))))
    position = 0
    for match in CHILD.finditer(body):
        if body[position:match.start()].strip():
            return None
        fields.append((match.group(1), value(xml_text(match.group(3) or ""))))
        position = match.end()
    if body[position:].strip():
        return None
    return fields


def element_fields(text):
    element = ElementTree.fromstring(text)
    fields = [("@" + name, value(item)) for name, item in sorted(element.attrib.items())]
    fields += [(child.tag, value("".join(child.itertext()))) for child in element]
    return fields


def normalise_xml(tag, path):
    """Every element `tag` of a document or a fragment of several top-level
    elements (as xmllint --xpath prints), read by pattern in chunks: records
    of this kind do not nest. A record whose fields hold elements is read by
    ElementTree."""
    digest = Digest()
    name = re.escape(tag)
    record = re.compile(r"<%s(\s[^>]*)?(?:/>|>(.*?)</%s\s*>)" % (name, name), re.DOTALL)
    pending = ""
    with open_text(path) as source:
        while True:
            chunk = source.read(CHUNK)
            text = pending + chunk
            position = 0
            for match in record.finditer(text):
                if chunk and match.end() > len(text) - 2 * len(tag) - 8:
                    break  # it may end in the next chunk
                fields = record_fields(match.group(1), match.group(2) or "")
                if fields is None:
                    fields = element_fields(match.group(0))
                digest.add_named(fields)
                position = match.end()
            pending = text[position:]
            if not chunk:
                break
            # A record's start seen but not its end: keep from there.
            start = pending.find("<" + tag)
            pending = pending[start:] if start >= 0 else pending[-len(tag) - 2:]
    return digest


def records_of(data):
    if isinstance(data, list) and data and all(isinstance(item, dict) for item in data):
        return data
    children = data.values() if isinstance(data, dict) else data if isinstance(data, list) else []
    for child in children:
        found = records_of(child)
        if found is not None:
            return found
    return None


def json_value(item):
    if isinstance(item, (dict, list)):
        return json.dumps(item, sort_keys=True, ensure_ascii=False)
    if item is None or item == "":
        return ""
    return value(str(item))


def normalise_json(path, whole):
    digest = Digest()
    data = json.load(open_text(path))
    records = None if whole else records_of(data)
    if records is None:
        records = [data] if isinstance(data, dict) else []
    for record in records:
        digest.add_named(sorted((name, json_value(item)) for name, item in record.items()))
    return digest


def count_bytes(path, needles):
    """Occurrences of any of `needles` (none longer than 16 bytes)."""
    count = 0
    tail = b""
    with open_binary(path) as source:
        while True:
            chunk = source.read(CHUNK)
            if not chunk:
                break
            data = tail + chunk
            count += sum(data.count(needle) for needle in needles)
            # Keep a tail that cannot hold a whole needle, so none counts twice.
            tail = data[-15:]
            count -= sum(tail.count(needle) for needle in needles)
    count += sum(tail.count(needle) for needle in needles)
    return count


def main(argv):
    kind = argv[1] if len(argv) > 1 else ""
    args = argv[2:]
    try:
        if kind == "csv" and len(args) in (2, 3):
            header = "--header" in args
            args = [a for a in args if a != "--header"]
            print(normalise_csv(args[0], header, args[1]).line())
        elif kind == "split" and len(args) == 3:
            print(normalise_split(args[0], int(args[1]), args[2]).line())
        elif kind == "xml" and len(args) == 2:
            print(normalise_xml(args[0], args[1]).line())
        elif kind in ("json", "json-value") and len(args) == 1:
            print(normalise_json(args[0], kind == "json-value").line())
        elif kind == "count-csv" and len(args) == 1:
            # Lines, less the header row.
            print(max(0, count_bytes(args[0], [b"\n"]) - 1))
        elif kind == "count-xml" and len(args) == 2:
            print(count_bytes(args[1], [("<%s>" % args[0]).encode(), ("<%s/>" % args[0]).encode()]))
        elif kind == "count-json" and len(args) == 2:
            print(count_bytes(args[1], [('{"%s":' % args[0]).encode()]))
        elif kind == "number" and len(args) == 1:
            with open_text(args[0]) as source:
                number = float(source.read().strip())
            print(int(number) if number.is_integer() else repr(number))
        else:
            sys.stderr.write(__doc__)
            return 2
    except (OSError, ValueError, csv.Error, ElementTree.ParseError) as error:
        sys.stderr.write("normalise.py: %s: %s\n" % (args[-1] if args else kind, error))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
