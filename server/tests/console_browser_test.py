#!/usr/bin/env python3
"""The console in headless Chromium, as a technician uses it, against zeq-server
with the console on loopback and a report whose program names, models, device
names and event sources hold markup: a page without a session and an expired
session lead to the login; the report is found by its code typed in lower case
without hyphens, its findings seen, its JSON downloaded as stored, and deleted; a
form without its anti-forgery token is refused; a saved report file imported
through the form shows the findings of the same report uploaded, and again leads
to it; repeated wrong passwords slow the next attempt. No dialog may open, nor
any error reach the browser's console. Screenshots of the list and of a report
page go to the output folder; those named "-limpia" hold no hostile value.

Usage: console_browser_test.py ZEQ_SERVER FIXTURES_DIR OUTPUT_DIR
"""

import base64
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request
import uuid
from pathlib import Path

from selenium.webdriver.common.by import By

from console_browser import (console_errors, findings, import_file, login, no_dialog,
                             open_by_code, start_browser, wait_until)

PASSWORD = "una clave bastante larga"
IDLE_SECONDS = 8
SCRIPT = "<script>alert('programa')</script>"
IMAGE = "<img src=x onerror=alert(1)>"
QUOTES = "Modelo \"con comillas\" y 'simples' & <b>negrita</b>"


def hostile_report(fixtures):
    report = json.loads(Path(fixtures, "windows11_budget_laptop.json").read_text("utf-8"))
    report["report_id"] = str(uuid.uuid4()).upper()
    for section in report["sections"]:
        name, rows = section["name"], section["rows"]
        if name == "Equipo" and rows:
            rows[0]["Model"] = QUOTES
        elif name == "Discos físicos" and rows:
            rows[0]["Model"] = IMAGE
        elif name == "Dispositivos con errores":
            rows.append({"ConfigManagerErrorCode": "28", "Name": SCRIPT, "Status": "Error"})
        elif name.startswith("Eventos"):
            rows.append({"EventCode": "10", "SourceName": IMAGE,
                         "TimeGenerated": "20260914190000.000000-000", "Type": "Error"})
        elif name == "Programas instalados" and rows:
            rows[0]["Name"] = SCRIPT
            rows.append({"Name": IMAGE, "DisplayVersion": QUOTES, "Publisher": SCRIPT})
    return json.dumps(report, ensure_ascii=False).encode("utf-8")


def upload(port, body):
    base = f"http://127.0.0.1:{port}"
    token = urllib.request.urlopen(base + "/api/token.php", timeout=10).read().decode()
    request = urllib.request.Request(base + "/api/report.php", data=body, method="POST",
                                     headers={"X-ZEQ-Token": token,
                                              "Content-Type": "application/json"})
    return urllib.request.urlopen(request, timeout=10).read().decode()


def wait_for_ports(log_path, deadline=15):
    end = time.time() + deadline
    while time.time() < end:
        with open(log_path, encoding="utf-8") as f:
            text = f.read()
        console = re.search(r"consola en http://127\.0\.0\.1:(\d+)", text)
        uploads = re.search(r"escuchando en http://127\.0\.0\.1:(\d+)", text)
        if console and uploads:
            return int(uploads.group(1)), int(console.group(1))
        time.sleep(0.05)
    raise RuntimeError("the server did not start: " + text)


def screenshots(driver, output, name):
    """The whole page, as wide as a desktop window and as a phone. The viewport is
    set through DevTools: a window's size includes the browser's own frame, so the
    page would be cut by that much, and its height must be read after the new width
    has laid the page out."""
    for width, suffix in ((1280, ""), (390, "-phone")):
        metrics = {"width": width, "height": 900, "deviceScaleFactor": 1, "mobile": False}
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", metrics)
        metrics["height"] = min(driver.execute_script(
            "return document.documentElement.scrollHeight"), 16000)
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", metrics)
        shot = driver.execute_cdp_cmd("Page.captureScreenshot", {"format": "png"})
        with open(os.path.join(output, name + suffix + ".png"), "wb") as f:
            f.write(base64.b64decode(shot["data"]))
    driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})


def main():
    server, fixtures, output = sys.argv[1:4]
    os.makedirs(output, exist_ok=True)
    work = tempfile.mkdtemp(prefix="console-browser-", dir=output)
    database = os.path.join(work, "reports.db")
    downloads = os.path.join(work, "descargas")
    os.makedirs(downloads)
    log_path = os.path.join(work, "server.log")
    failures = []

    def check(condition, what):
        print(("ok   " if condition else "FAIL ") + what, flush=True)
        if not condition:
            failures.append(what)

    with open(log_path, "w") as log:
        process = subprocess.Popen(
            [server, "serve", "--db", database, "--port", "0", "--console-port", "0",
             "--session-idle-seconds", str(IDLE_SECONDS)],
            stdin=subprocess.DEVNULL, stderr=log)
    driver = None
    try:
        upload_port, console_port = wait_for_ports(log_path)
        base = f"http://127.0.0.1:{console_port}"
        subprocess.run([server, "user", "add", "ana", "--db", database],
                       input=(PASSWORD + "\n").encode(), check=True, capture_output=True)
        for name in ("windows10_office_desktop.json", "windows11_gaming_desktop.json"):
            upload(upload_port, Path(fixtures, name).read_bytes())
        body = hostile_report(fixtures)
        code = upload(upload_port, body)
        check(re.fullmatch(r"ZEQ-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}", code) is not None,
              "the upload gives a receipt code")

        driver = start_browser(downloads)
        driver.get(base + "/informe/" + code)
        check(driver.current_url == base + "/entrar",
              "without a session a report leads to the login")
        check(login(driver, base, "ana", PASSWORD), "the login leads to the list")
        check(code in driver.page_source, "the list shows the report")
        screenshots(driver, output, "console-list")

        error = open_by_code(driver, base, code)
        check(error is None, f"the code typed in lower case without hyphens finds it: {error}")
        found = findings(driver)
        check(found != [] and "critico" in found[0][0],
              "the report page shows its findings, a critical one first")
        text = driver.find_element(By.TAG_NAME, "body").text
        for value in (SCRIPT, IMAGE, QUOTES):
            check(value in text, f"{value!r} is shown as text")
        check(driver.execute_script("return document.scripts.length") == 0,
              "the page has no script")
        check(driver.execute_script("return document.images.length") == 0,
              "no image element was made from the report")
        check(len(driver.find_elements(By.CSS_SELECTOR, "main section[id^=seccion-] h2")) == 26,
              "all 26 sections are shown")
        screenshots(driver, output, "console-report")

        driver.find_element(By.PARTIAL_LINK_TEXT, "Descargar").click()
        target = os.path.join(downloads, code + ".json")
        downloaded = Path(target).read_bytes() if wait_until(
            driver, lambda d: os.path.exists(target)) else None
        stored = subprocess.run([server, "show", code, "--db", database], check=True,
                                capture_output=True).stdout
        check(downloaded == stored, "the download is the stored bytes")
        check(downloaded == body, "the stored bytes are the uploaded ones")
        check(no_dialog(driver), "no dialog opened")
        errors = console_errors(driver)
        check(errors == [], f"the browser's console has no errors: {errors}")

        # A form without its token: made by the test, as a forged page would.
        driver.execute_script(
            "const f = document.createElement('form'); f.method = 'post';"
            "f.action = arguments[0]; document.body.appendChild(f); f.submit();",
            "/informe/" + code + "/borrar")
        check(wait_until(driver, lambda d: "Formulario no válido" in d.page_source),
              "a POST without the token is refused")
        driver.get(base + "/informe/" + code)
        check("Informe " + code in driver.title, "the report is still there")

        driver.find_element(By.PARTIAL_LINK_TEXT, "Borrar").click()
        wait_until(driver, lambda d: d.find_elements(By.CSS_SELECTOR, "button.peligro"))
        driver.find_element(By.CSS_SELECTOR, "button.peligro").click()
        check(wait_until(driver, lambda d: d.current_url.startswith(base + "/?borrado=")),
              "the deletion leads to the list")
        check(f"Informe {code} borrado." in driver.page_source, "the list says it was deleted")
        driver.get(base + "/informe/" + code)
        check("Informe no encontrado" in driver.page_source, "the deleted report is gone")

        # A report the tool saved to a file because the upload failed, and the
        # same machine's report uploaded: the import shows the same findings.
        console_errors(driver)  # the refusals above were meant; only what follows counts
        saved = json.loads(Path(fixtures, "windows11_gaming_desktop.json").read_text("utf-8"))
        saved["report_id"] = str(uuid.uuid4()).upper()
        saved_path = os.path.join(work, "informe guardado.json")
        with open(saved_path, "w", encoding="utf-8") as f:
            json.dump(saved, f, ensure_ascii=False)
        saved["report_id"] = str(uuid.uuid4()).upper()
        uploaded_code = upload(upload_port, json.dumps(saved, ensure_ascii=False).encode("utf-8"))
        driver.get(base + "/informe/" + uploaded_code)
        shown = lambda: [e.text for e in driver.find_elements(By.CSS_SELECTOR, "article.hallazgo")]
        uploaded_findings = shown()

        first = import_file(driver, base, saved_path)
        check(isinstance(first, list) and first[1] == "nuevo" and first[0] != uploaded_code,
              f"the imported file leads to a new report of its own: {first}")
        imported_code = first[0] if isinstance(first, list) else ""
        check(uploaded_findings != [] and shown() == uploaded_findings,
              "the imported report shows the same findings as the uploaded one")
        check("importado por ana el " in driver.find_element(By.TAG_NAME, "main").text,
              "the report says who imported it")
        screenshots(driver, output, "console-report-limpia")
        again = import_file(driver, base, saved_path)
        check(again == [imported_code, "ya"],
              f"importing it again leads to the same report: {again}")
        check("ya estaba guardado" in driver.find_element(By.TAG_NAME, "main").text,
              "and says it was already stored")
        driver.get(base + "/")
        rows = driver.find_elements(By.CSS_SELECTOR, "main tbody tr")
        check(len(rows) == 4, "the list holds the two fixtures, the uploaded copy and the "
              f"import: {len(rows)}")
        check(any("importado" in row.text and imported_code in row.text for row in rows),
              "the list marks the imported report")
        screenshots(driver, output, "console-list-limpia")
        check(no_dialog(driver), "no dialog opened while importing")
        errors = console_errors(driver)
        check(errors == [], f"the browser's console has no errors while importing: {errors}")

        time.sleep(IDLE_SECONDS + 1)
        driver.get(base + "/")
        check(driver.current_url == base + "/entrar", "an expired session leads to the login")

        # Last, as the address then waits: wrong passwords slow the next attempt.
        for _ in range(4):
            login(driver, base, "nadie", "no es la clave de nadie")
        page = driver.find_element(By.TAG_NAME, "main").text
        check("Espere" in page, "repeated wrong passwords ask for a wait: " + page[:200])
    finally:
        if driver is not None:
            driver.quit()
        process.terminate()
        status = process.wait(timeout=20)
        check(status == 0, "the server stops cleanly on SIGTERM")
    if failures:
        print(f"{len(failures)} failed; server log in {log_path}")
        return 1
    shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
