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
import sys

# The browser steps are the console's browser test's, kept beside the server's tests.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "server", "tests"))
from console_browser import (findings, import_file, login, no_dialog,  # noqa: E402
                             open_by_code, start_browser)


def main():
    base, name, password, screenshots, uploaded, *files = sys.argv[1:]
    driver = start_browser()
    failures = []
    imports = []
    found = {}
    try:
        if not login(driver, base, name, password):
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
                error = open_by_code(driver, base, code)
                if error:
                    failures.append(error)
                else:
                    found[code] = findings(driver)
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
