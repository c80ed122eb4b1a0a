#!/usr/bin/env python3
"""Every value of the `alltypes` rows of vendorclient/language.pcap, as the message view shows
them (JSON), against the table of values the client read back, kept in the capture folder's
README. The table is read as written: NULL, numbers, true/false, quoted text, and a few
descriptions ("x" 300 times); everything else is the text shown."""
import argparse
import json
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
CAPTURES = os.path.join(HERE, "..", "data", "captures", "vendorclient")


def expected_rows():
    rows = {}
    with open(os.path.join(CAPTURES, "README.md"), encoding="utf-8") as f:
        lines = f.read().split("## The `alltypes` rows", 1)[1].splitlines()
    for line in lines:
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) != 4 or not re.match(r"^[cf]_", cells[0]):
            continue
        rows[cells[0]] = (cells[1], cells[2], cells[3])
    return rows


def parse(cell, sql_type):
    """The JSON value a table cell stands for."""
    cell = re.sub(r"\s*\(.*\)$", "", cell)  # remarks in parentheses
    if cell == "NULL":
        return None
    m = re.match(r'^"(.)" (\d+) times$', cell)
    if m:
        return m.group(1) * int(m.group(2))
    if cell.startswith('"') and cell.endswith('"'):
        return cell[1:-1]
    if cell in ("true", "false"):
        return cell == "true"
    if sql_type in ("float", "real"):
        return float(cell)
    if re.match(r"^-?\d+$", cell) and sql_type.split("(")[0] in (
            "int", "smallint", "tinyint", "bigint", "usmallint", "uint", "ubigint"):
        return int(cell)
    return cell


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--binary", required=True)
    args = ap.parse_args()
    out = subprocess.run([args.binary, "--view", "message", "-o", "json",
                          os.path.join(CAPTURES, "language.pcap")],
                         capture_output=True, check=True).stdout.decode("utf-8")
    rows = []
    for line in out.splitlines():
        for token in json.loads(line)["tokens"]:
            names = [v["name"] for v in token.get("values", [])]
            if token["name"] == "ROW" and "c_int" in names:
                rows.append({v["name"]: v for v in token["values"]})
    want = expected_rows()
    passed = failed = 0
    if len(rows) != 2:
        print("expected 2 alltypes rows, found %d" % len(rows))
        failed += 1
    for column, (sql_type, *cells) in want.items():
        for i, row in enumerate(rows[:2]):
            got = row.get(column)
            expected = parse(cells[i], sql_type)
            ok = got is not None and got["value"] == expected and type(got["value"]) is type(expected)
            ok = ok and got["type"] == sql_type.split("(")[0]
            if ok:
                passed += 1
            else:
                failed += 1
                print("%s row %d: got %r, expected %r (%s)" % (column, i + 1, got, expected, sql_type))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
