"""The console in headless Chromium (Debian's /usr/bin/chromium through
/usr/bin/chromedriver and python3-selenium), as a technician uses it: shared by
the console's browser test and the technician's side of the Windows tool's
end-to-end run (tests/gui/console_e2e_browser.py), which imports it by path.
Steps that can fail return an error text, None or a result otherwise."""

import os
import re

from selenium import webdriver
from selenium.common.exceptions import NoAlertPresentException, TimeoutException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait


def start_browser(downloads=None):
    """Keeps the page's console log; saves downloads in `downloads` when given."""
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                     "--disable-dev-shm-usage", "--window-size=1280,900", "--lang=es"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    if downloads:
        options.add_experimental_option("prefs", {"download.default_directory": downloads,
                                                  "download.prompt_for_download": False})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    if downloads:
        # Headless Chromium saves downloads only where it is told to.
        driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                               {"behavior": "allow", "downloadPath": downloads})
    return driver


def wait_until(driver, condition):
    """Waits for a page the browser is loading; False after 10 s."""
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


def console_errors(driver):
    """The errors in the browser's console since it was last asked."""
    return [entry for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]


def login(driver, base, name, password):
    """Sends the login form; True when it led to the list. A refused attempt
    stays on the login page, which then shows a notice."""
    driver.get(base + "/entrar")
    driver.find_element(By.ID, "nombre").send_keys(name)
    driver.find_element(By.ID, "clave").send_keys(password)
    driver.find_element(By.CSS_SELECTOR, "form button[type=submit]").click()
    wait_until(driver, lambda d: not d.find_elements(By.ID, "nombre")
               or d.find_elements(By.CLASS_NAME, "aviso-pagina"))
    return driver.current_url == base + "/"


def import_file(driver, base, path, screenshot=None):
    """Chooses the file in the import page's file field and sends it: [code,
    importado] of the report page it led to ("nuevo" or "ya")."""
    driver.get(base + "/importar")
    driver.find_element(By.ID, "informe").send_keys(path)
    driver.find_element(By.CSS_SELECTOR, "main form button[type=submit]").click()
    landed = re.compile(re.escape(base) + r"/informe/(ZEQ-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4})"
                        r"\?importado=(nuevo|ya)$")
    if not wait_until(driver, lambda d: landed.match(d.current_url)):
        return "importing %s led to %s, not to a report's page" % (
            os.path.basename(path), driver.current_url)
    if screenshot:
        driver.save_screenshot(screenshot)
    code, said = landed.match(driver.current_url).groups()
    if code not in driver.find_element(By.TAG_NAME, "h1").text:
        return "the page importing %s led to does not name %s" % (os.path.basename(path), code)
    return [code, said]


def open_by_code(driver, base, code):
    """Types the code in the list's search box as a person reads it aloud (lower
    case, no hyphens) and follows the one line found to the report's page."""
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
    return None


def findings(driver):
    """The report page's findings in the order shown, as [class, heading]."""
    return [[article.get_attribute("class"), article.find_element(By.TAG_NAME, "h3").text]
            for article in driver.find_elements(By.CSS_SELECTOR, "article.hallazgo")]
