#!/usr/bin/env python3
"""The console in a real browser (headless Chromium through Selenium).

Starts zeq-server with the console on loopback, adds a technician, uploads
reports (one whose program names, models, device names and event sources hold
markup), then, as the technician would: a page without a session leads to the
login; logs in; finds the report by its code typed in lower case without
hyphens; sees its findings; downloads the JSON and compares it with the stored
bytes; deletes it; a form without its anti-forgery token is refused; imports
a saved report file through the form's file field, sees the same findings as
for the same report uploaded, and importing it again leads to that report;
repeated
wrong passwords slow the next attempt; an expired session leads to the login.
No dialog may open and the browser's console must stay free of errors.
Screenshots of the list and of a report page go to the output folder; those
named "-limpia" hold no hostile value.

Usage: console_browser_test.py ZEQ_SERVER FIXTURES_DIR OUTPUT_DIR
"""

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

from selenium import webdriver
from selenium.common.exceptions import NoAlertPresentException
from selenium.webdriver.chrome.service import Service
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

PASSWORD = "una clave bastante larga"
IDLE_SECONDS = 8
SCRIPT = "<script>alert('programa')</script>"
IMAGE = "<img src=x onerror=alert(1)>"
QUOTES = "Modelo \"con comillas\" y 'simples' & <b>negrita</b>"


def hostile_report(fixtures):
    with open(os.path.join(fixtures, "windows11_budget_laptop.json"), encoding="utf-8") as f:
        report = json.load(f)
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


class Check:
    def __init__(self):
        self.failures = []

    def __call__(self, condition, what):
        print(("ok   " if condition else "FAIL ") + what, flush=True)
        if not condition:
            self.failures.append(what)


def start_browser(downloads):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                     "--disable-dev-shm-usage", "--window-size=1280,900", "--lang=es"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    options.add_experimental_option("prefs", {
        "download.default_directory": downloads,
        "download.prompt_for_download": False,
    })
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    # Headless Chromium saves downloads only where it is told to.
    driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                           {"behavior": "allow", "downloadPath": downloads})
    return driver


def no_dialog(driver):
    try:
        driver.switch_to.alert
        return False
    except NoAlertPresentException:
        return True


def full_page_screenshot(driver, path, width):
    driver.set_window_size(width, 900)
    height = driver.execute_script("return document.documentElement.scrollHeight")
    driver.set_window_size(width, min(max(height, 600), 6000))
    driver.save_screenshot(path)
    driver.set_window_size(1280, 900)


def wait_until(driver, condition):
    """Waits for a page the browser is loading; False after 10 s."""
    try:
        WebDriverWait(driver, 10).until(lambda d: condition(d))
        return True
    except TimeoutException:
        return False


def login(driver, base, name, password):
    driver.get(base + "/entrar")
    driver.find_element(By.ID, "nombre").send_keys(name)
    driver.find_element(By.ID, "clave").send_keys(password)
    button = driver.find_element(By.CSS_SELECTOR, "form button[type=submit]")
    button.click()
    wait_until(driver, lambda d: d.execute_script("return document.readyState") == "complete"
               and not d.find_elements(By.ID, "nombre") or d.find_elements(By.CLASS_NAME, "aviso-pagina"))


def main():
    server, fixtures, output = sys.argv[1:4]
    os.makedirs(output, exist_ok=True)
    work = tempfile.mkdtemp(prefix="console-browser-", dir=output)
    database = os.path.join(work, "reports.db")
    downloads = os.path.join(work, "descargas")
    os.makedirs(downloads)
    log_path = os.path.join(work, "server.log")
    check = Check()
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
            with open(os.path.join(fixtures, name), "rb") as f:
                upload(upload_port, f.read())
        body = hostile_report(fixtures)
        code = upload(upload_port, body)
        check(re.fullmatch(r"ZEQ-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}", code) is not None,
              "the upload gives a receipt code")

        driver = start_browser(downloads)
        driver.get(base + "/informe/" + code)
        check(driver.current_url == base + "/entrar", "without a session a report leads to the login")

        login(driver, base, "ana", PASSWORD)
        check(wait_until(driver, lambda d: d.current_url == base + "/"),
              "the login leads to the list")
        check(code in driver.page_source, "the list shows the report")
        full_page_screenshot(driver, os.path.join(output, "console-list.png"), 1280)
        full_page_screenshot(driver, os.path.join(output, "console-list-phone.png"), 390)

        typed = code.lower().replace("-", "")
        search = driver.find_element(By.ID, "q")
        search.clear()
        search.send_keys(typed)
        search.submit()
        wait_until(driver, lambda d: "?q=" in d.current_url)
        links = driver.find_elements(By.CSS_SELECTOR, "main table a")
        check([link.text for link in links] == [code],
              f"a search for {typed} finds exactly that report")
        links[0].click()
        check(wait_until(driver, lambda d: d.current_url == base + "/informe/" + code),
              "the link opens the report")
        critical = driver.find_elements(By.CSS_SELECTOR, "article.hallazgo.critico")
        check(len(critical) > 0, "the report page shows its critical findings")
        first_finding = driver.find_element(By.CSS_SELECTOR, "article.hallazgo")
        check("critico" in first_finding.get_attribute("class"), "the most severe finding is first")
        text = driver.find_element(By.TAG_NAME, "body").text
        for value in (SCRIPT, IMAGE, QUOTES):
            check(value in text, f"{value!r} is shown as text")
        check(driver.execute_script("return document.scripts.length") == 0, "the page has no script")
        check(driver.execute_script("return document.images.length") == 0,
              "no image element was made from the report")
        check(len(driver.find_elements(By.CSS_SELECTOR, "main section[id^=seccion-] h2")) == 26,
              "all 26 sections are shown")
        full_page_screenshot(driver, os.path.join(output, "console-report.png"), 1280)
        full_page_screenshot(driver, os.path.join(output, "console-report-phone.png"), 390)

        driver.find_element(By.PARTIAL_LINK_TEXT, "Descargar").click()
        target = os.path.join(downloads, code + ".json")
        end = time.time() + 10
        while not os.path.exists(target) and time.time() < end:
            time.sleep(0.1)
        stored = subprocess.run([server, "show", code, "--db", database], check=True,
                                capture_output=True).stdout
        downloaded = open(target, "rb").read() if os.path.exists(target) else None
        check(downloaded == stored, "the download is the stored bytes")
        check(downloaded == body, "the stored bytes are the uploaded ones")

        check(no_dialog(driver), "no dialog opened")
        errors = [entry for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]
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
        audit = subprocess.run([server, "audit", "--db", database], check=True,
                               capture_output=True, text=True).stdout
        check(all(code in line for line in audit.splitlines()[-3:]),
              "the audit records the report viewed, downloaded and deleted")

        # A report the tool saved to a file because the upload failed, and the
        # same machine's report uploaded: the import shows the same findings.
        driver.get_log("browser")  # the refusals above were meant; only what follows counts
        saved = json.loads(open(os.path.join(fixtures, "windows11_gaming_desktop.json"),
                                encoding="utf-8").read())
        saved["report_id"] = str(uuid.uuid4()).upper()
        saved_path = os.path.join(work, "informe guardado.json")
        with open(saved_path, "w", encoding="utf-8") as f:
            json.dump(saved, f, ensure_ascii=False)
        saved["report_id"] = str(uuid.uuid4()).upper()
        uploaded_code = upload(upload_port, json.dumps(saved, ensure_ascii=False).encode("utf-8"))
        driver.get(base + "/informe/" + uploaded_code)
        uploaded_findings = [e.text for e in driver.find_elements(By.CSS_SELECTOR,
                                                                 "article.hallazgo")]

        def import_file():
            driver.get(base + "/importar")
            driver.find_element(By.ID, "informe").send_keys(saved_path)
            driver.find_element(By.CSS_SELECTOR, "main form button[type=submit]").click()
            wait_until(driver, lambda d: "/informe/ZEQ-" in d.current_url)
            return driver.current_url

        first = import_file()
        imported = re.search(r"/informe/(ZEQ-[0-9A-F-]{14})\?importado=nuevo$", first)
        check(imported is not None, "the imported file leads to its new report: " + first)
        imported_code = imported.group(1) if imported else ""
        imported_findings = [e.text for e in driver.find_elements(By.CSS_SELECTOR,
                                                                 "article.hallazgo")]
        check(uploaded_findings != [] and imported_findings == uploaded_findings,
              "the imported report shows the same findings as the uploaded one")
        check("importado por ana el " in driver.find_element(By.TAG_NAME, "main").text,
              "the report says who imported it")
        check(imported_code != uploaded_code, "the import has a code of its own")
        full_page_screenshot(driver, os.path.join(output, "console-report-limpia.png"), 1280)
        again = import_file()
        check(again == base + "/informe/" + imported_code + "?importado=ya",
              "importing it again leads to the same report: " + again)
        check("ya estaba guardado" in driver.find_element(By.TAG_NAME, "main").text,
              "and says it was already stored")
        driver.get(base + "/")
        rows = driver.find_elements(By.CSS_SELECTOR, "main tbody tr")
        check(len(rows) == 4, f"the list holds the two fixtures, the uploaded copy and the import: {len(rows)}")
        check(any("importado" in row.text and imported_code in row.text for row in rows),
              "the list marks the imported report")
        full_page_screenshot(driver, os.path.join(output, "console-list-limpia.png"), 1280)
        check(no_dialog(driver), "no dialog opened while importing")
        errors = [entry for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]
        check(errors == [], f"the browser's console has no errors while importing: {errors}")

        # Wrong passwords from this address: the login page asks for a wait.
        second = start_browser(downloads)
        try:
            for _ in range(4):
                login(second, base, "nadie", "no es la clave de nadie")
            page = second.find_element(By.TAG_NAME, "main").text
            check("Espere" in page, "repeated wrong passwords ask for a wait: " + page[:200])
        finally:
            second.quit()

        time.sleep(IDLE_SECONDS + 1)
        driver.get(base + "/")
        check(driver.current_url == base + "/entrar", "an expired session leads to the login")
    finally:
        if driver is not None:
            driver.quit()
        process.terminate()
        status = process.wait(timeout=20)
        check(status == 0, "the server stops cleanly on SIGTERM")
    if check.failures:
        print(f"{len(check.failures)} failed; server log in {log_path}")
        return 1
    shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
