#!/usr/bin/python3
"""The technician's side of the end-to-end run: headless Chromium (Debian's chromium
and chromium-driver through python3-selenium) logs in to the console, imports each
given report file through the console's import page (the file chosen in its file
field, as a person picks it), then finds the uploaded report and every report an
import stored anew by its receipt code typed as a person reads it aloud (lower case,
no hyphens), opens it from the list and reads its findings.

  console_e2e_browser.py URL NAME PASSWORD SCREENSHOT_DIR CODE [FILE...]

CODE is the uploaded report's; each FILE is an absolute path. Prints one JSON object:
"imports", for each FILE in order the [code, importado] of the report page the import
led to ("nuevo" when stored, "ya" when the same bytes were already stored), and
"findings", each found code's findings, most severe first, as [severity class,
heading text]. Exits 1 when a step fails (the login, an import that does not lead to
a report's page, a search that does not find exactly that report, a page without its
code, a dialog); 0 otherwise.
"""

import json
import os
import re
import sys

from selenium import webdriver
from selenium.common.exceptions import NoAlertPresentException, TimeoutException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait


def start_browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                     "--disable-dev-shm-usage", "--window-size=1280,900", "--lang=es"):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def wait_until(driver, condition):
    try:
        WebDriverWait(driver, 10).until(condition)
        return True
    except TimeoutException:
        return False


def no_dialog(driver):
    try:
        driver.switch_to.alert
        return False
    except NoAlertPresentException:
        return True


def import_file(driver, base, path, screenshot):
    """[code, importado] of the report page the import led to, or an error text."""
    driver.get(base + "/importar")
    driver.find_element(By.ID, "informe").send_keys(path)
    driver.find_element(By.CSS_SELECTOR, "main form button[type=submit]").click()
    landed = re.compile(re.escape(base) + r"/informe/(ZEQ-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4})"
                        r"\?importado=(nuevo|ya)$")
    if not wait_until(driver, lambda d: landed.match(d.current_url)):
        return "importing %s led to %s, not to a report's page" % (
            os.path.basename(path), driver.current_url)
    driver.save_screenshot(screenshot)
    code, said = landed.match(driver.current_url).groups()
    if code not in driver.find_element(By.TAG_NAME, "h1").text:
        return "the page importing %s led to does not name %s" % (os.path.basename(path), code)
    return [code, said]


def findings_of(driver, base, code):
    """The report's findings, or an error text."""
    driver.get(base + "/")
    search = driver.find_element(By.ID, "q")
    search.clear()
    typed = code.lower().replace("-", "")
    search.send_keys(typed)
    search.submit()
    if not wait_until(driver, lambda d: "?q=" in d.current_url):
        return "the search for %s did not load" % typed
    links = driver.find_elements(By.CSS_SELECTOR, "main table a")
    if [link.text for link in links] != [code]:
        return "a search for %s lists %r, not %s alone" % (
            typed, [link.text for link in links], code)
    links[0].click()
    if not wait_until(driver, lambda d: d.current_url == base + "/informe/" + code):
        return "the link of %s did not open its page" % code
    if code not in driver.find_element(By.TAG_NAME, "h1").text:
        return "the page of %s does not name it" % code
    return [[article.get_attribute("class"), article.find_element(By.TAG_NAME, "h3").text]
            for article in driver.find_elements(By.CSS_SELECTOR, "article.hallazgo")]


def main():
    base, name, password, screenshots, uploaded, *files = sys.argv[1:]
    driver = start_browser()
    failures = []
    imports = []
    found = {}
    try:
        driver.get(base + "/entrar")
        driver.find_element(By.ID, "nombre").send_keys(name)
        driver.find_element(By.ID, "clave").send_keys(password)
        driver.find_element(By.CSS_SELECTOR, "form button[type=submit]").click()
        if not wait_until(driver, lambda d: d.current_url == base + "/"):
            failures.append("the login did not lead to the list")
        else:
            for number, path in enumerate(files, 1):
                result = import_file(driver, base, path, os.path.join(
                    screenshots, "consola-importar-%d.png" % number))
                if isinstance(result, str):
                    failures.append(result)
                    break
                imports.append(result)
            codes = [uploaded] + [code for code, said in imports if said == "nuevo"]
            for code in codes:
                result = findings_of(driver, base, code)
                if isinstance(result, str):
                    failures.append(result)
                else:
                    found[code] = result
                    driver.save_screenshot(os.path.join(screenshots, "consola-%s.png" % code))
        if not no_dialog(driver):
            failures.append("a dialog opened")
    finally:
        driver.quit()
    print(json.dumps({"imports": imports, "findings": found}, ensure_ascii=False))
    for failure in failures:
        print("FAILED: " + failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
