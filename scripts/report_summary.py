#!/usr/bin/python3
"""Prints a short summary of a report file: the envelope, then per section its
name, its row count and its error text."""
import json
import sys


def main(path):
    with open(path, "rb") as f:
        raw = f.read()
    report = json.loads(raw.decode("utf-8"))
    print("%s: %d bytes, report %s, collected %s, elevated %s" % (
        path, len(raw), report["report_id"], report["collected_at"],
        "yes" if report["elevated"] else "no"))
    sections = report["sections"]
    width = max(len(section["name"]) for section in sections)
    for number, section in enumerate(sections, 1):
        print("%2d  %-*s  %4d  %s" % (number, width, section["name"], len(section["rows"]),
                                      section.get("error", "")))


if __name__ == "__main__":
    main(sys.argv[1])
