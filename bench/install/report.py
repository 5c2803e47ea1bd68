#!/usr/bin/env python3
"""Turns one run of install_bench (its output and the stand-in's request log) into a timeline
from the click, with the peers' times and the ratios; `summary` prints the table of all runs.
  report.py case <label> <archive bytes> <curl s> <curl KiB> <aria2c s> <aria2c KiB> <bench output> <log.json> <rows.tsv>
  report.py summary <rows.tsv>
"""
import json
import sys
import urllib.parse

DOWNLOADING = "Скачивание обновления..."
INSTALLING = "Установка..."
DONE = "Обновление завершено!"


def request_name(entry):
    url = urllib.parse.urlsplit(entry["path"])
    query = urllib.parse.parse_qs(url.query)
    if url.path == "/v1/disk/public/resources":
        what = "listing"
    elif url.path.startswith("/disk/"):
        what = "direct link " + query.get("filename", ["?"])[0]
    elif url.path.startswith("/rdisk/"):
        what = "storage " + query.get("filename", ["?"])[0]
    else:
        what = url.path
    ranged = entry.get("headers", {}).get("Range")
    return "%s %s%s -> %s" % (entry["method"], what, " " + ranged if ranged else "", entry.get("status", "-"))


def case(label, size, c_wall, c_rss, a_wall, a_rss, bench_out, log_path, rows_path):
    events, click = [], None
    marks = {}
    for line in open(bench_out, encoding="utf-8"):
        word, _, rest = line.rstrip("\n").partition(" ")
        if word == "click":
            click = float(rest)
        elif word == "state":
            at, _, text = rest.partition(" ")
            events.append((float(at), "window: " + text))
            marks.setdefault(text, float(at))
        elif word == "hidden":
            events.append((float(rest), "window hidden"))
        elif word == "product":
            events.append((float(rest), "product started"))
            marks["product"] = float(rest)
        elif word == "exit":
            at, _, code = rest.partition(" ")
            events.append((float(at), "launcher ended, exit " + code))
            marks["exit"] = float(at)
        elif word == "peak":
            idle, _, peak = rest.partition(" ")
            marks["idle"], marks["peak"] = int(idle), int(peak)
        else:
            events.append((0.0, line.strip()))
    if click is None:
        print("  the launcher's run failed:", open(bench_out, encoding="utf-8").read().strip())
        return
    for entry in json.load(open(log_path, encoding="utf-8")):
        at = entry.get("time", 0) - click
        if at >= -0.5:
            events.append((at, "  request " + request_name(entry)))
    events.append((0.0, "click"))
    events.sort(key=lambda e: e[0])
    a_wall, c_wall = float(a_wall), float(c_wall)
    print("== %s (archive %d bytes)" % (label, int(size)))
    print("  curl (1 connection)   %8.2f s  %8d KiB peak" % (c_wall, int(c_rss)))
    print("  aria2c -x4 -s4        %8.2f s  %8d KiB peak" % (a_wall, int(a_rss)))
    print("  Morvane, seconds after the click:")
    for at, text in events:
        print("  %+8.3f  %s" % (at, text))
    start, end = marks.get(DOWNLOADING), marks.get(INSTALLING)
    download = end - start if start is not None and end is not None else float("nan")
    product, exit_at, peak = marks.get("product", float("nan")), marks.get("exit", float("nan")), marks.get("peak", 0)
    check = start if start is not None else float("nan")
    install = marks[DONE] - end if end is not None and DONE in marks else float("nan")
    print("  check %.2f s; download %.2f s (aria2c / download %.2f); installation %.2f s; click to product %.2f s "
          "(%.2f x aria2c); click to exit %.2f s (%.2f x aria2c); peak %d KiB (%d KiB at the click)"
          % (check, download, a_wall / download, install, product, product / a_wall, exit_at, exit_at / a_wall, peak,
             marks.get("idle", 0)))
    with open(rows_path, "a", encoding="utf-8") as rows:
        rows.write("\t".join(str(v) for v in (label, a_wall, c_wall, check, download, product, exit_at, peak,
                                              install)) + "\n")


def summary(rows_path):
    print("== summary (seconds; ratios against aria2c -x4 fetching the same archive)")
    print("  %-40s %7s %7s %7s %8s %8s %8s %7s %8s %7s %9s" % (
        "case", "aria2c", "curl", "check", "download", "install", "product", "x aria", "exit", "x aria", "peak KiB"))
    for line in open(rows_path, encoding="utf-8"):
        label, a, c, check, download, product, exit_at, peak, install = line.rstrip("\n").split("\t")
        a, c, check, download, product, exit_at, install = map(float, (a, c, check, download, product, exit_at, install))
        print("  %-40s %7.2f %7.2f %7.2f %8.2f %8.2f %8.2f %7.2f %8.2f %7.2f %9s" % (
            label, a, c, check, download, install, product, product / a, exit_at, exit_at / a, peak))


if __name__ == "__main__":
    if sys.argv[1] == "case":
        case(*sys.argv[2:])
    else:
        summary(sys.argv[2])
