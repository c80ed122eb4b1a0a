#!/usr/bin/env python3
"""The HTML report in a real headless browser: tdsdecode --report on real captures, the page
loaded by chromium from its file (no network), the rendered DOM (--dump-dom) checked against
the figures of `tdsdecode --digest -o json` on the same captures, and a screenshot kept in the
output directory. Exits 77 (skipped) when chromium is not installed."""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
from html.parser import HTMLParser

SKIP = 77


class Page(HTMLParser):
    """Texts of elements with an id, rows of tables, attributes of chart elements."""

    def __init__(self):
        super().__init__()
        self.by_id = {}      # id -> text
        self.attrs = {}      # id -> attributes
        self.rows = {}       # table id -> [[cell text, ...], ...]
        self.bars = []       # data-count of the latency bars
        self.body = {}
        self._open = []      # ids of open elements with an id, with their tag
        self._table = None
        self._row = None
        self._cell = None
        self._in_tbody = False

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "body":
            self.body = a
        if "id" in a:
            self.attrs[a["id"]] = a
            self.by_id[a["id"]] = ""
            self._open.append((tag, a["id"]))
        if tag == "table":
            self._table = a.get("id")
            self.rows[self._table] = []
        elif tag == "tbody":
            self._in_tbody = True
        elif tag == "tr" and self._in_tbody:
            self._row = []
        elif tag == "td" and self._row is not None:
            self._cell = ""
        elif tag == "rect" and a.get("class") == "bar":
            self.bars.append(int(a["data-count"]))

    def handle_endtag(self, tag):
        if self._open and self._open[-1][0] == tag:
            self._open.pop()
        if tag == "td" and self._row is not None and self._cell is not None:
            self._row.append(self._cell.strip())
            self._cell = None
        elif tag == "tr" and self._row is not None:
            self.rows[self._table].append(self._row)
            self._row = None
        elif tag == "tbody":
            self._in_tbody = False

    def handle_data(self, data):
        for _, i in self._open:
            self.by_id[i] += data
        if self._cell is not None:
            self._cell += data


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--binary", required=True)
    ap.add_argument("--out-dir", required=True)
    ap.add_argument("captures", nargs="+")
    args = ap.parse_args()
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if not browser:
        print("chromium is not installed: skipped")
        return SKIP
    os.makedirs(args.out_dir, exist_ok=True)
    report = os.path.join(args.out_dir, "report.html")
    shot = os.path.join(args.out_dir, "report.png")
    for f in (report, shot):
        if os.path.exists(f):
            os.remove(f)
    digest = json.loads(subprocess.run([args.binary, "--digest", "-o", "json"] + args.captures,
                                       check=True, capture_output=True, text=True).stdout)
    subprocess.run([args.binary, "--report", report] + args.captures, check=True)

    profile = tempfile.mkdtemp(prefix="tdsdecode-chromium-")
    flags = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--user-data-dir=" + profile]
    url = "file://" + os.path.abspath(report)
    try:
        dom = subprocess.run([browser] + flags + ["--dump-dom", url], check=True,
                             capture_output=True, text=True, timeout=120).stdout
        subprocess.run([browser] + flags + ["--hide-scrollbars", "--window-size=1280,1800",
                                            "--screenshot=" + shot, url],
                       check=True, capture_output=True, timeout=120)
    finally:
        shutil.rmtree(profile, ignore_errors=True)

    page = Page()
    page.feed(dom)
    failures = []

    def check(what, got, want):
        if got != want:
            failures.append("%s: page shows %r, digest says %r" % (what, got, want))

    check("script ran", page.body.get("data-ready"), "1")
    check("requests", page.by_id.get("ov-requests"), str(digest["requests"]))
    check("requests with errors", page.by_id.get("ov-errors"), str(digest["with_errors"]))
    check("fingerprints", page.by_id.get("ov-fingerprints"), str(digest["fingerprint_count"]))
    check("first request", page.by_id.get("ov-first"), digest["first_time"])
    check("users", page.by_id.get("ov-users"),
          str(len([u for u in digest["users"] if u["name"]])))
    rows = page.rows.get("digest", [])
    check("digest rows", len(rows), len(digest["fingerprints"]))
    for row, f in zip(rows, digest["fingerprints"]):
        check("count of %s" % f["fingerprint"], row[1], str(f["count"]))
        check("total of %s" % f["fingerprint"], row[2], "%.3f" % f["total_ms"])
        if f["p95_ms"] is not None:
            check("p95 of %s" % f["fingerprint"], row[5], "%.3f" % f["p95_ms"])
        check("fingerprint", row[10], f["fingerprint"])
    check("latency bars", sum(page.bars), digest["answered"])
    check("rate points", int(page.attrs.get("rate-chart", {}).get("data-points", "0")),
          len(digest["per_second"]["requests"]))
    slowest = page.rows.get("slowest", [])
    longest = max(f["max_ms"] or 0 for f in digest["fingerprints"])
    check("slowest request", slowest[0][0] if slowest else None, "%.3f" % longest)
    check("error rows", len(page.rows.get("errors", [])), len(digest["errors"]))
    check("connection rows", len(page.rows.get("connections", [])) > 0, True)
    for table in ("users", "applications", "clients"):
        check(table + " rows", len(page.rows.get(table, [])), len(digest[table]))
    with open(shot, "rb") as f:
        check("screenshot", f.read(8), b"\x89PNG\r\n\x1a\n")

    for line in failures:
        print("FAIL", line)
    print("report: %d fingerprints, %d requests checked in the rendered page; screenshot %s"
          % (len(rows), digest["requests"], shot))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
