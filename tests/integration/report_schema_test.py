#!/usr/bin/python3
"""docs/report.schema.json accepts a well-formed report and rejects each kind
of deviation that a receiver relies on it to catch.

Usage: report_schema_test.py SCHEMA
"""
import copy
import json
import sys
import unittest

import jsonschema

from report_texts import (PROGRAMS_COMPLETE_NOTE, PROGRAMS_PARTIAL_NOTE, SECTION_TITLES,
                          WMI_PARTIAL)

SCHEMA = None

TITLES = SECTION_TITLES[:-1]  # the WMI sections and the events


def valid_report():
    sections = [{"name": title, "rows": []} for title in TITLES]
    sections[2]["rows"] = [{"Caption": "Microsoft Windows 10 Pro", "InstallDate":
                            "20240307101500.000000+060", "FreePhysicalMemory": "4194304"}]
    sections[13]["error"] = ("No disponible: WMI 0x80041003. Puede requerir permisos o un "
                             "proveedor compatible.")
    sections[21]["rows"] = [{"DeviceName": None, "IsSigned": "True"}]
    sections[22]["error"] = WMI_PARTIAL
    sections.append({"name": "Programas instalados",
                     "rows": [{"Name": "Editor", "DisplayVersion": "", "Publisher": "Ulbrena",
                               "InstallDate": "20240307"}, {"Name": "Otro"}],
                     "error": PROGRAMS_COMPLETE_NOTE})
    return {"schema_version": 1, "client_version": "1.0.0", "consent": True,
            "report_id": "9C3B1F0E-4D2A-4E7B-A1C3-0F5D6E7A8B9C",
            "collected_at": "2024-02-29T23:59:59Z", "elevated": False, "sections": sections}


def section(report, index):
    return report["sections"][index]


# (label, change applied to a valid report) for documents the schema must reject.
REJECTED = [
    ("schema_version as text", lambda r: r.update(schema_version="1")),
    ("another client_version", lambda r: r.update(client_version="1.0.1")),
    ("consent false", lambda r: r.update(consent=False)),
    ("elevated as text", lambda r: r.update(elevated="false")),
    ("report_id with braces", lambda r: r.update(report_id="{" + r["report_id"] + "}")),
    ("report_id in lower case", lambda r: r.update(report_id=r["report_id"].lower())),
    ("collected_at with a fraction", lambda r: r.update(collected_at="2024-03-07T10:00:00.5Z")),
    ("collected_at with an offset", lambda r: r.update(collected_at="2024-03-07T10:00:00+01:00")),
    ("collected_at month 13", lambda r: r.update(collected_at="2024-13-07T10:00:00Z")),
    ("extra envelope member", lambda r: r.update(hostname="PC")),
    ("missing envelope member", lambda r: r.pop("elevated")),
    ("25 sections", lambda r: r["sections"].pop(5)),
    ("27 sections", lambda r: r["sections"].append({"name": "Extra", "rows": []})),
    ("two sections swapped", lambda r: r["sections"].insert(0, r["sections"].pop(1))),
    ("misspelt title", lambda r: section(r, 1).update(name="Identificacion")),
    ("WMI value as number", lambda r: section(r, 2)["rows"][0].update(FreePhysicalMemory=4194304)),
    ("WMI value as boolean", lambda r: section(r, 21)["rows"][0].update(IsSigned=True)),
    ("WMI value as array", lambda r: section(r, 21)["rows"][0].update(DeviceName=["a"])),
    ("row that is not an object", lambda r: section(r, 4)["rows"].append("DIMM")),
    ("66 members in a row",
     lambda r: section(r, 4)["rows"].append({"P%d" % i: "x" for i in range(66)})),
    ("more rows than the section's limit",
     lambda r: section(r, 0)["rows"].extend({"Model": "x"} for _ in range(5))),
    ("unknown WMI error text", lambda r: section(r, 14).update(error="Error")),
    ("WMI error with lower-case hexadecimal", lambda r: section(r, 13).update(
        error="No disponible: WMI 0x8004100e. Puede requerir permisos o un proveedor "
              "compatible.")),
    ("extra member in a WMI section", lambda r: section(r, 0).update(count=0)),
    ("programs without note", lambda r: section(r, 25).pop("error")),
    ("programs with the WMI partial text", lambda r: section(r, 25).update(error=WMI_PARTIAL)),
    ("program row without Name", lambda r: section(r, 25)["rows"].append({"Publisher": "x"})),
    ("program value null", lambda r: section(r, 25)["rows"][1].update(Publisher=None)),
    ("program with another member", lambda r: section(r, 25)["rows"][1].update(Size="1")),
    ("program with an empty Name", lambda r: section(r, 25)["rows"][1].update(Name="")),
    ("501 programs", lambda r: section(r, 25)["rows"].extend({"Name": "p"} for _ in range(500))),
]


class ReportSchemaTest(unittest.TestCase):
    def setUp(self):
        self.validator = jsonschema.Draft202012Validator(SCHEMA)

    def test_schema_is_valid_draft_2020_12(self):
        jsonschema.Draft202012Validator.check_schema(SCHEMA)
        self.assertEqual("https://json-schema.org/draft/2020-12/schema", SCHEMA["$schema"])

    def test_accepts_well_formed_reports(self):
        accepted = [
            ("example", valid_report()),
            ("partial programs note, 500 programs",
             lambda r: section(r, 25).update(error=PROGRAMS_PARTIAL_NOTE,
                                             rows=[{"Name": "p"}] * 500)),
            ("row limit reached exactly", lambda r: section(r, 21).update(
                rows=[{"DeviceName": "d"}] * 300)),
            ("empty row and 65 members", lambda r: section(r, 4).update(
                rows=[{}, {"P%d" % i: None for i in range(65)}])),
            ("elevated", lambda r: r.update(elevated=True)),
        ]
        for label, change in accepted:
            with self.subTest(label):
                report = valid_report()
                if callable(change):
                    change(report)
                self.assertEqual([], [e.message for e in self.validator.iter_errors(report)])

    def test_rejects_each_deviation(self):
        for label, change in REJECTED:
            with self.subTest(label):
                report = copy.deepcopy(valid_report())
                change(report)
                self.assertFalse(self.validator.is_valid(report), label)


if __name__ == "__main__":
    with open(sys.argv[1], encoding="utf-8") as f:
        SCHEMA = json.load(f)
    unittest.main(argv=sys.argv[:1], verbosity=1)
