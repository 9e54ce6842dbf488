#!/usr/bin/python3
"""Runs a window-driving command against the real collection server and checks what
the server stored against what the window showed and saved.

  real_server_runner.py --server ZEQ-SERVER --state DIR --make-certs SCRIPT
                        --prefix WINEPREFIX --wine-run SCRIPT --trust-helper EXE
                        [--console-browser SCRIPT] -- COMMAND [ARGS...]

1. Makes the development certificates for localhost (scripts/make-dev-certs.sh, once,
   in DIR/certs) and has the Wine prefix trust their CA: only the prefix, never the
   machine (the peer's ensure_prefix_trust, with the zeq_trust_root helper).
2. Starts `zeq-server serve` on 127.0.0.1:443 with that certificate and a new
   database in DIR/db, and waits until it listens.
3. Runs COMMAND with ZEQ_E2E_DIR (DIR/work, Windows form) in its environment. The
   command (the driver under Wine) leaves there codigo-recibo.txt, the receipt code
   read from the window's code box, and informe-guardado.json, saved with the window's
   save button.
4. Stops the server (SIGTERM, which must end it with status 0) and checks with the
   technician's commands: `list` shows exactly one report, under that code, with the
   saved file's size and report_id, from 127.0.0.1; `show CODE` prints exactly the
   saved bytes; the server logged one token request and one report request, both 200.
5. With --console-browser: the technician's side. `ZEQHealth.exe --collect` (ZEQ_APP,
   under Wine) saves a second report of the same PC. The server is started again with
   its console on loopback and a technician's account; SCRIPT (headless Chromium)
   logs in and imports files through the console's import page, choosing each in its
   file field: the collected report leads to a new code, importing it again to that
   same code, and importing the file the window saved to the uploaded report's code.
   Then it finds the uploaded and the imported report by their codes typed in lower
   case without hyphens and reads their findings: the uploaded report has findings,
   the imported one the same, and each is among those `zeq-server show CODE --text`
   prints. Its screenshots are saved in DIR.

Exits 77 (skipped) when the server binary is missing (the server is a separate native
build; scripts/test.sh builds it first) or when there is no display; otherwise 0 when
the command and every check succeeded, 1 when not. Nothing is left running.
"""

import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import zeq_test_peer  # noqa: E402  (ensure_prefix_trust, windows_path)

SKIPPED = 77
LISTEN_TIMEOUT = 20
STOP_TIMEOUT = 20
CODE = re.compile(r"^ZEQ-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}$")
CONSOLE_LINE = re.compile(r"consola en (http://127\.0\.0\.1:\d+)")
TECHNICIAN = "tecnica"
TECHNICIAN_PASSWORD = "clave de la prueba de principio a fin"
BROWSER_TIMEOUT = 120
COLLECT_TIMEOUT = 300
# time, client address, method, path, status, in=, out=, milliseconds
REQUEST_LINE = re.compile(r"^\S+ (\S+) (GET|POST|PUT|DELETE|HEAD|\S+) (\S+) (\d{3}) in=(\d+) "
                          r"out=(\d+) (\d+)ms$")


def wait_until_listening(server, log_path):
    """Seconds until the server said it listens, or None when it ended or took too long."""
    started = time.monotonic()
    while time.monotonic() - started < LISTEN_TIMEOUT:
        with open(log_path, encoding="utf-8", errors="replace") as f:
            if "escuchando en https://127.0.0.1:443" in f.read():
                return time.monotonic() - started
        if server.poll() is not None:
            return None
        time.sleep(0.02)
    return None


def stop_server(server):
    """SIGTERM, then SIGKILL if it does not end; returns its exit status."""
    if server.poll() is None:
        server.send_signal(signal.SIGTERM)
        try:
            return server.wait(STOP_TIMEOUT)
        except subprocess.TimeoutExpired:
            server.kill()
    return server.wait()


def technician(arguments, database, *command):
    return subprocess.run([arguments.server, *command, "--db", database], stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)


def listed_reports(output):
    """Rows of `zeq-server list` as dictionaries (header line first, then one per report)."""
    lines = output.decode("utf-8").splitlines()
    if not lines or not lines[0].startswith("RECIBO"):
        return None
    rows = []
    for line in lines[1:]:
        code, day, clock, size, report_id, client = line.split()
        rows.append({"code": code, "received": day + " " + clock, "size": int(size),
                     "report_id": report_id, "client": client})
    return rows


def check_stored_report(arguments, database, work, log_path):
    """Returns the list of failed checks (empty when all hold) and the figures."""
    failures = []
    figures = {}
    try:
        with open(os.path.join(work, "codigo-recibo.txt"), encoding="utf-8") as f:
            code = f.read()
        with open(os.path.join(work, "informe-guardado.json"), "rb") as f:
            saved = f.read()
    except OSError as error:
        return ["the driver left no code or no saved report: %s" % error], figures
    if not CODE.match(code):
        failures.append("the window's code box showed %r, not a receipt code" % code)
    figures["receipt code"] = code
    figures["report bytes"] = len(saved)
    try:
        report_id = json.loads(saved.decode("utf-8"))["report_id"]
    except (ValueError, KeyError) as error:
        return failures + ["the saved report is not the tool's JSON: %s" % error], figures

    listing = technician(arguments, database, "list")
    rows = listed_reports(listing.stdout) if listing.returncode == 0 else None
    if rows is None:
        failures.append("zeq-server list failed (%d): %r %r" % (
            listing.returncode, listing.stdout[:300], listing.stderr[:300]))
    else:
        expected = [{"code": code, "size": len(saved), "report_id": report_id,
                     "client": "127.0.0.1"}]
        got = [{key: row[key] for key in ("code", "size", "report_id", "client")} for row in rows]
        if got != expected:
            failures.append("zeq-server list shows %r, expected %r" % (got, expected))
        else:
            print("zeq-server list:\n" + listing.stdout.decode("utf-8"), end="")

    shown = technician(arguments, database, "show", code)
    if shown.returncode != 0:
        failures.append("zeq-server show %s failed (%d): %r" % (
            code, shown.returncode, shown.stderr[:300]))
    elif shown.stdout != saved:
        failures.append("zeq-server show %s prints %d bytes that differ from the %d saved ones "
                        "(first difference at byte %d)" % (
                            code, len(shown.stdout), len(saved),
                            next((i for i, (a, b) in enumerate(zip(shown.stdout, saved)) if a != b),
                                 min(len(shown.stdout), len(saved)))))

    with open(log_path, encoding="utf-8", errors="replace") as f:
        requests = [REQUEST_LINE.match(line.rstrip("\n")) for line in f]
    requests = [m for m in requests if m]
    seen = [(m.group(2), m.group(3), int(m.group(4))) for m in requests]
    expected_requests = [("GET", "/api/token.php", 200), ("POST", "/api/report.php", 200)]
    if seen != expected_requests:
        failures.append("the server logged %r, expected %r" % (seen, expected_requests))
    else:
        figures["server ms (token, report)"] = ", ".join(m.group(7) for m in requests)
        if int(requests[1].group(5)) != len(saved):
            failures.append("the report request carried %s bytes, the saved file has %d" % (
                requests[1].group(5), len(saved)))
    return failures, figures


def wait_for_console(server, log_path):
    """The console's base URL once the server listens, or None."""
    started = time.monotonic()
    while time.monotonic() - started < LISTEN_TIMEOUT:
        with open(log_path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        match = CONSOLE_LINE.search(text)
        if match and "escuchando en" in text:
            return match.group(1)
        if server.poll() is not None:
            return None
        time.sleep(0.02)
    return None


def check_through_console(arguments, database, state, work, code):
    """Step 5; returns the list of failed checks."""
    collected = os.path.join(work, "informe-recogido.json")
    with open(os.path.join(state, "collect.log"), "wb") as out:
        status = subprocess.run([arguments.wine_run, arguments.prefix, os.environ["ZEQ_APP"],
                                 "--collect", zeq_test_peer.windows_path(collected)],
                                stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                                timeout=COLLECT_TIMEOUT).returncode
    if status != 0 or not os.path.exists(collected):
        return ["ZEQHealth.exe --collect failed (exit status %d)" % status]
    failures = []
    added = subprocess.run([arguments.server, "user", "add", TECHNICIAN, "--db", database],
                           input=(TECHNICIAN_PASSWORD + "\n").encode(), capture_output=True,
                           timeout=60)
    if added.returncode != 0:
        return failures + ["zeq-server user add failed: %r" % added.stderr[:300]]
    log_path = os.path.join(state, "console-server.log")
    with open(log_path, "w") as log:
        server = subprocess.Popen([arguments.server, "serve", "--address", "127.0.0.1",
                                   "--port", "0", "--db", database, "--console-port", "0"],
                                  stdin=subprocess.DEVNULL, stdout=log, stderr=log)
    try:
        base = wait_for_console(server, log_path)
        if base is None:
            with open(log_path, encoding="utf-8", errors="replace") as f:
                return failures + ["the console did not start:\n" + f.read()]
        browser = subprocess.run(
            ["/usr/bin/python3", arguments.console_browser, base, TECHNICIAN,
             TECHNICIAN_PASSWORD, state, code, collected, collected,
             os.path.join(work, "informe-guardado.json")],
            stdin=subprocess.DEVNULL, capture_output=True, timeout=BROWSER_TIMEOUT)
    finally:
        stop_server(server)
    sys.stdout.write(browser.stderr.decode("utf-8", "replace"))
    print("the console's screenshots: %s" % os.path.join(state, "consola-*.png"))
    if browser.returncode != 0:
        return failures + ["the browser did not import or find the reports (exit status %d)" %
                           browser.returncode]
    result = json.loads(browser.stdout.decode("utf-8"))
    imports, found = result["imports"], result["findings"]
    print("imports in the browser: %s" % json.dumps(imports))
    second = imports[0][0]
    # The window's saved file holds the very bytes uploaded: an import stores nothing.
    expected = [[second, "nuevo"], [second, "ya"], [code, "ya"]]
    if imports != expected or second == code:
        failures.append("the browser's imports (collected, again, the window's saved file) led "
                        "to %r, not to a new code, that code again and the uploaded %s" % (
                            imports, code))
    uploaded, imported = found.get(code, []), found.get(second, [])
    print("findings in the browser, uploaded %s: %s" % (code, json.dumps(uploaded,
                                                                          ensure_ascii=False)))
    if not uploaded:
        failures.append("the browser shows no findings for the uploaded report")
    if imported != uploaded:
        failures.append("the imported report %s shows %r, the uploaded one %r" % (
            second, imported, uploaded))
    shown = technician(arguments, database, "show", code, "--text")
    text = shown.stdout.decode("utf-8", "replace")
    for severity, heading in uploaded:
        # The heading is the severity's word, then the title.
        title = heading.split(" ", 1)[-1]
        if title not in text:
            failures.append("the browser's finding %r (%s) is not in `show --text`" % (
                title, severity))
    return failures


def main():
    parser = argparse.ArgumentParser()
    for option in ("server", "state", "make-certs", "prefix", "wine-run", "trust-helper"):
        parser.add_argument("--" + option, default="" if option == "server" else None,
                            required=option != "server")
    parser.add_argument("--console-browser", default="")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    arguments = parser.parse_args()
    command = arguments.command[1:] if arguments.command[:1] == ["--"] else arguments.command
    if not arguments.server or not os.access(arguments.server, os.X_OK):
        print("skipped: zeq-server is not built (%s); scripts/test.sh builds it and passes "
              "-DZEQ_SERVER_BINARY=BUILD/server/zeq-server" % (arguments.server or "not set"))
        return SKIPPED
    if not os.environ.get("DISPLAY"):
        print("skipped: the window needs a display (run under xvfb-run)")
        return SKIPPED

    state = os.path.abspath(arguments.state)
    certs = os.path.join(state, "certs")
    database_directory = os.path.join(state, "db")
    work = os.path.join(state, "work")
    for directory in (database_directory, work):
        shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(work)
    subprocess.run([arguments.make_certs, certs], check=True)
    zeq_test_peer.ensure_prefix_trust(certs, arguments.prefix, arguments.wine_run,
                                      arguments.trust_helper)

    database = os.path.join(database_directory, "reports.db")
    log_path = os.path.join(state, "server.log")
    server_command = [arguments.server, "serve", "--address", "127.0.0.1", "--port", "443",
                      "--cert", os.path.join(certs, "server.pem"),
                      "--key", os.path.join(certs, "server.key"), "--db", database]
    environment = dict(os.environ, ZEQ_E2E_DIR=zeq_test_peer.windows_path(work))
    with open(log_path, "w") as log:
        server = subprocess.Popen(server_command, stdin=subprocess.DEVNULL, stdout=log,
                                  stderr=log)
    # Stopped by CTest's timeout or by hand: the server and the driver end with the runner.
    for signum in (signal.SIGTERM, signal.SIGINT):
        signal.signal(signum, lambda number, frame: sys.exit(128 + number))
    try:
        listen_seconds = wait_until_listening(server, log_path)
        if listen_seconds is None:
            with open(log_path, encoding="utf-8", errors="replace") as f:
                print("zeq-server did not start listening on 127.0.0.1:443:\n" + f.read())
            return 1
        driver_started = time.monotonic()
        status = subprocess.run(command, env=environment).returncode
        driver_seconds = time.monotonic() - driver_started
    finally:
        server_status = stop_server(server)

    failures = []
    if status != 0:
        failures.append("the window driver failed (exit status %d)" % status)
    if server_status != 0:
        failures.append("zeq-server ended with status %d after SIGTERM" % server_status)
    stored_failures, figures = check_stored_report(arguments, database, work, log_path)
    failures += stored_failures
    if arguments.console_browser and not failures:
        console_started = time.monotonic()
        failures += check_through_console(arguments, database, state, work,
                                          figures["receipt code"])
        figures["console check"] = "%.1f s" % (time.monotonic() - console_started)
    figures["server start"] = "%.2f s" % listen_seconds
    figures["driver run"] = "%.1f s" % driver_seconds
    for name, value in figures.items():
        print("%s: %s" % (name, value))
    if failures:
        with open(log_path, encoding="utf-8", errors="replace") as f:
            print("server log:\n" + f.read())
        for failure in failures:
            print("FAILED: " + failure)
        return 1
    print("the receipt code in the window and the saved report match what zeq-server stored")
    if arguments.console_browser:
        print("the technician's browser finds the report by that code and sees its findings; "
              "the report saved with --collect and imported through the console's import page "
              "shows the same findings, and importing the same bytes again stores nothing new")
    return 0


if __name__ == "__main__":
    sys.exit(main())
