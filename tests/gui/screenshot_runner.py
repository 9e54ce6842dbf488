#!/usr/bin/python3
"""Runs a command and takes screenshots of the display when it asks for them.

  screenshot_runner.py --shots DIR -- COMMAND [ARGS...]

The command (a Windows program under Wine) finds DIR in ZEQ_SHOT_DIR and asks for a
screenshot NAME by creating DIR/NAME.request. The runner then saves the whole X
display as DIR/NAME.png (ImageMagick's import, written aside and renamed, so the
picture is complete once it appears) and removes the request. Exits with the
command's exit code.
"""

import argparse
import os
import subprocess
import sys
import time


def take_pending_shots(directory):
    for entry in sorted(os.listdir(directory)):
        if not entry.endswith(".request"):
            continue
        name = entry[: -len(".request")]
        picture = os.path.join(directory, name + ".png")
        partial = os.path.join(directory, name + ".part.png")
        result = subprocess.run(["import", "-window", "root", partial],
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if result.returncode == 0:
            os.replace(partial, picture)
        else:
            print("screenshot %s failed: %s" % (name, result.stderr.decode(errors="replace")),
                  file=sys.stderr)
        os.remove(os.path.join(directory, entry))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--shots", required=True)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    arguments = parser.parse_args()
    command = arguments.command[1:] if arguments.command[:1] == ["--"] else arguments.command
    directory = os.path.abspath(arguments.shots)
    os.makedirs(directory, exist_ok=True)
    for entry in os.listdir(directory):
        if entry.endswith(".request"):
            os.remove(os.path.join(directory, entry))

    environment = dict(os.environ, ZEQ_SHOT_DIR=directory)
    child = subprocess.Popen(command, env=environment)
    while child.poll() is None:
        take_pending_shots(directory)
        time.sleep(0.05)
    return child.returncode


if __name__ == "__main__":
    sys.exit(main())
