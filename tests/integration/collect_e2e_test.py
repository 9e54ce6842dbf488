#!/usr/bin/python3
"""End-to-end runs of the built ZEQHealth.exe under Wine, in the build's prefix.

--cases headless: `--collect FILE` writes a valid report (checked against
docs/report.schema.json and in detail) with real WMI and with fixture
uninstall entries written to both registry views of the prefix; exit codes
and files when the report fails, cannot be written or the main window cannot
be created (with the variant programs built for that).
--cases window: every other command line opens the main window (needs a
display); closing it ends the process with exit code 0.

Every run goes through launch_probe.exe, which starts the program, tells
whether it showed its main window and reports its exit code.
"""
import argparse
import calendar
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import jsonschema

from report_texts import SECTION_TITLES, WMI_FAILURE_PATTERN, WMI_PARTIAL

ARGS = None

ENVELOPE_KEYS = ["schema_version", "client_version", "consent", "report_id", "collected_at",
                 "elevated", "sections"]
WMI_FAILURE = re.compile(WMI_FAILURE_PATTERN)

UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
# One entry per registry view, with text that needs UTF-8 and JSON escaping on the way.
FIXTURES = [
    {"view": "/reg:32", "key": "ZEQHealthE2E32",
     "values": [("DisplayName", "REG_SZ", "ZEQ Prueba e2e (32 bits) año\\ñandú"),
                ("DisplayVersion", "REG_SZ", "1.2.3"),
                ("Publisher", "REG_SZ", "Ulbrena Pruebas"),
                ("InstallDate", "REG_SZ", "20240307")],
     "row": {"Name": "ZEQ Prueba e2e (32 bits) año\\ñandú", "DisplayVersion": "1.2.3",
             "Publisher": "Ulbrena Pruebas", "InstallDate": "20240307"}},
    # An InstallDate that is not text is left out of the row.
    {"view": "/reg:64", "key": "ZEQHealthE2E64",
     "values": [("DisplayName", "REG_SZ", "ZEQ Prueba e2e (64 bits) – Diagnóstico"),
                ("Publisher", "REG_SZ", "Ulbrena Pruebas"),
                ("InstallDate", "REG_DWORD", "20240307")],
     "row": {"Name": "ZEQ Prueba e2e (64 bits) – Diagnóstico", "Publisher": "Ulbrena Pruebas"}},
]

WINDOW_TITLE = "ZEQ Health · Diagnóstico del equipo"
WINDOW_STYLE_MASK = 0x00FF0000  # caption, borders, system menu, minimise and maximise boxes
WINDOW_STYLE = 0x00CA0000  # WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(*command, env=None):
    # Output goes to files, not pipes: Wine's background processes inherit the
    # descriptors and would hold a pipe open for seconds after the program ends.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run([ARGS.wine_run, ARGS.prefix, *command], stdout=out, stderr=err,
                              stdin=subprocess.DEVNULL, env=env, timeout=600).returncode
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(command, code, out.read(), err.read())


def reg(*arguments):
    # Wine reads its command line in the locale's encoding: UTF-8 for the accents.
    env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
    return wine("reg", *arguments, env=env)


def launch(*arguments, hold=None, program=None):
    """Runs ZEQHealth.exe (or program) through the probe; returns (window, exit code, details)."""
    command = [ARGS.probe]
    if hold is not None:
        command += ["--hold", windows_path(hold)]
    command += [windows_path(program or ARGS.exe), *arguments]
    result = wine(*command)
    line = result.stdout.decode("utf-8", "replace").strip().splitlines()
    line = line[-1] if line else ""
    if result.returncode != 0:
        raise AssertionError("probe failed (%d): %s %s" % (
            result.returncode, line, result.stderr.decode("utf-8", "replace")))
    match = re.match(r"^nowindow exit=(\d+)$", line)
    if match:
        return False, int(match.group(1)), {}
    match = re.match(r"^window style=0x([0-9a-f]{8}) width=(-?\d+) height=(-?\d+) exit=(\d+) "
                     r"title=(.*)$", line)
    if not match:
        raise AssertionError("unexpected probe output: %r" % line)
    details = {"style": int(match.group(1), 16), "width": int(match.group(2)),
               "height": int(match.group(3)), "title": match.group(5)}
    return True, int(match.group(4)), details


def scan_tokens(text):
    """Problems with the one-line form: white space between tokens, short escapes."""
    problems = []
    in_string = False
    i = 0
    while i < len(text):
        c = text[i]
        if in_string:
            if c == "\\":
                if text[i + 1] not in "\"\\u":
                    problems.append("escape \\%s at %d" % (text[i + 1], i))
                i += 1
            elif c == '"':
                in_string = False
        elif c == '"':
            in_string = True
        elif c in " \t\r\n":
            problems.append("white space at %d" % i)
        i += 1
    return problems


def no_duplicate_keys(pairs):
    keys = [key for key, _ in pairs]
    if len(keys) != len(set(keys)):
        raise ValueError("duplicate keys %s" % keys)
    return dict(pairs)


class Workspace(unittest.TestCase):
    def setUp(self):
        self.work = os.path.join(ARGS.work, self.id().rsplit(".", 1)[-1])
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)

    def listing(self):
        return sorted(os.listdir(self.work))


class HeadlessReport(Workspace):
    @classmethod
    def setUpClass(cls):
        for fixture in FIXTURES:
            for name, kind, data in fixture["values"]:
                result = reg("add", UNINSTALL + "\\" + fixture["key"], "/v", name, "/t", kind,
                             "/d", data, "/f", fixture["view"])
                if result.returncode != 0:
                    raise AssertionError("reg add failed: %s" % result.stdout)

    @classmethod
    def tearDownClass(cls):
        for fixture in FIXTURES:
            reg("delete", UNINSTALL + "\\" + fixture["key"], "/f", fixture["view"])

    def collect(self, path):
        started = time.time()
        window, code, _ = launch("--collect", windows_path(path))
        self.assertFalse(window, "the command-line mode showed a window")
        self.assertEqual(0, code)
        return started

    def check_report(self, raw, started):
        """Checks one report file's bytes; returns the parsed document."""
        self.assertFalse(raw.startswith(b"\xef\xbb\xbf"), "byte-order mark")
        self.assertEqual(b"{", raw[:1])
        self.assertEqual(b"}", raw[-1:], "no trailing line break")
        self.assertNotIn(b"\n", raw)
        self.assertLessEqual(len(raw), 0x200000)
        text = raw.decode("utf-8")  # strict: fails on any ill-formed byte
        self.assertEqual([], scan_tokens(text))
        report = json.loads(text, object_pairs_hook=no_duplicate_keys)

        with open(ARGS.schema, encoding="utf-8") as f:
            schema = json.load(f)
        errors = sorted(jsonschema.Draft202012Validator(schema).iter_errors(report), key=str)
        self.assertEqual([], [e.message for e in errors][:5])

        self.assertEqual(ENVELOPE_KEYS, list(report))
        self.assertEqual((1, "1.0.0", True), (report["schema_version"], report["client_version"],
                                              report["consent"]))
        self.assertIsInstance(report["elevated"], bool)
        collected = calendar.timegm(time.strptime(report["collected_at"], "%Y-%m-%dT%H:%M:%SZ"))
        self.assertLessEqual(abs(collected - started), 120, "collected_at is not now in UTC")

        sections = report["sections"]
        self.assertEqual(SECTION_TITLES, [s["name"] for s in sections])
        for section in sections[:25]:
            with self.subTest(section=section["name"]):
                self.assertEqual(["name", "rows"], list(section)[:2])
                for row in section["rows"]:
                    for key, value in row.items():
                        self.assertTrue(value is None or isinstance(value, str), (key, value))
                if "error" in section:
                    self.assertTrue(WMI_FAILURE.match(section["error"]) or
                                    section["error"] == WMI_PARTIAL, section["error"])
        # Real WMI answers in the prefix: the operating system is always there.
        windows = sections[2]
        self.assertNotIn("error", windows)
        self.assertTrue(windows["rows"] and windows["rows"][0].get("Caption"))
        return report

    def test_collect_writes_the_report_and_replaces_an_existing_file(self):
        target = os.path.join(self.work, "informe.json")
        with open(target, "wb") as f:
            f.write(b"informe anterior\n" * 20000)
        started = self.collect(target)
        self.assertEqual(["informe.json"], self.listing())
        with open(target, "rb") as f:
            first = self.check_report(f.read(), started)

        programs = first["sections"][25]["rows"]
        positions = []
        for fixture in FIXTURES:
            matches = [i for i, row in enumerate(programs) if row["Name"] == fixture["row"]["Name"]]
            self.assertEqual(1, len(matches), fixture["row"]["Name"])
            self.assertEqual(list(fixture["row"].items()), list(programs[matches[0]].items()))
            positions.append(matches[0])
        self.assertLess(positions[0], positions[1], "32-bit view first, then 64-bit view")

        # A second run replaces the first report and has its own identifier.
        started = self.collect(target)
        self.assertEqual(["informe.json"], self.listing())
        with open(target, "rb") as f:
            second = self.check_report(f.read(), started)
        self.assertNotEqual(first["report_id"], second["report_id"])


class HeadlessFailures(Workspace):
    def test_each_failure_gives_exit_code_1_and_changes_no_file(self):
        held = os.path.join(self.work, "abierto.json")
        cases = [
            # label, program, arguments, file held open by another program
            ("report failed", ARGS.invalid_report_exe, ["--collect", windows_path(held)], None),
            ("empty path", ARGS.exe, ["--collect", ""], None),
            ("folder that does not exist", ARGS.exe,
             ["--collect", windows_path(os.path.join(self.work, "no", "x.json"))], None),
            ("target held open", ARGS.exe, ["--collect", windows_path(held)], held),
            ("main window not created", ARGS.no_window_exe, [], None),
        ]
        previous = b'{"anterior":true}'
        for label, program, arguments, hold in cases:
            with self.subTest(label):
                with open(held, "wb") as f:
                    f.write(previous)
                window, code, _ = launch(*arguments, hold=hold, program=program)
                self.assertFalse(window)
                self.assertEqual(1, code)
                self.assertEqual(["abierto.json"], self.listing())
                with open(held, "rb") as f:
                    self.assertEqual(previous, f.read())


class HeadlessOversizedReport(Workspace):
    """Enough long uninstall entries push the report past 2 MiB: nothing is written."""
    KEYS = [UNINSTALL.replace("HKLM", "HKEY_LOCAL_MACHINE") + "\\ZEQHealthE2EBig%03d" % i
            for i in range(300)]
    LONG = 2000  # characters per value; four values make a row of about 8 KB

    def import_reg(self, lines):
        path = os.path.join(self.work, "fixture.reg")
        with open(path, "w", encoding="ascii", newline="\r\n") as f:
            f.write("REGEDIT4\n\n" + "\n".join(lines) + "\n")
        result = wine("regedit", "/S", windows_path(path))
        os.remove(path)
        return result

    def setUp(self):
        super().setUp()
        lines = []
        for i, key in enumerate(self.KEYS):
            lines += ["[%s]" % key, '"DisplayName"="ZEQ grande %03d %s"' % (i, "n" * self.LONG)]
            lines += ['"%s"="%s"' % (name, name[0] * self.LONG)
                      for name in ("DisplayVersion", "Publisher", "InstallDate")]
            lines.append("")
        self.assertEqual(0, self.import_reg(lines).returncode)
        # The view regedit writes to depends on Wine's loader; reg, started the same way, sees it.
        last = self.KEYS[-1].replace("HKEY_LOCAL_MACHINE", "HKLM")
        self.assertEqual(0, reg("query", last, "/v", "InstallDate").returncode)

    def tearDown(self):
        self.import_reg(["[-%s]" % key for key in self.KEYS])

    def test_a_report_over_2_mib_is_not_written(self):
        target = os.path.join(self.work, "informe.json")
        previous = b'{"anterior":true}'
        with open(target, "wb") as f:
            f.write(previous)
        window, code, _ = launch("--collect", windows_path(target))
        self.assertFalse(window)
        self.assertEqual(1, code)
        self.assertEqual(["informe.json"], self.listing())
        with open(target, "rb") as f:
            self.assertEqual(previous, f.read())


class WindowMode(Workspace):
    def test_other_command_lines_open_the_main_window(self):
        target = os.path.join(self.work, "informe.json")
        cases = [
            ("no arguments", []),
            ("--collect without a path", ["--collect"]),
            ("a path and one more argument", ["--collect", windows_path(target), "extra"]),
            ("upper-case option", ["--COLLECT", windows_path(target)]),
            ("one upper-case letter", ["--Collect", windows_path(target)]),
            ("path first", [windows_path(target), "--collect"]),
        ]
        for label, arguments in cases:
            with self.subTest(label):
                if os.path.exists(target):
                    os.remove(target)  # left by an earlier failing case
                window, code, details = launch(*arguments)
                self.assertTrue(window, "no main window")
                self.assertEqual(WINDOW_TITLE, details["title"])
                self.assertEqual((710, 670), (details["width"], details["height"]))
                self.assertEqual(WINDOW_STYLE, details["style"] & WINDOW_STYLE_MASK)
                self.assertEqual(0, code, "closing the window ends with exit code 0")
                self.assertEqual([], self.listing())


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for option in ("wine-run", "prefix", "exe", "invalid-report-exe", "no-window-exe", "probe",
                   "schema", "work"):
        parser.add_argument("--" + option, required=True)
    parser.add_argument("--cases", choices=("headless", "window"), required=True)
    ARGS = parser.parse_args()
    if ARGS.cases == "window" and not os.environ.get("DISPLAY"):
        print("skipped: the window cases need a display (run under xvfb-run)")
        return 77
    os.makedirs(ARGS.work, exist_ok=True)
    classes = [HeadlessReport, HeadlessFailures, HeadlessOversizedReport] if ARGS.cases == "headless" else [WindowMode]
    suite = unittest.TestSuite(unittest.defaultTestLoader.loadTestsFromTestCase(c)
                               for c in classes)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if result.wasSuccessful():
        shutil.rmtree(ARGS.work, ignore_errors=True)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
