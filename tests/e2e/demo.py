#!/usr/bin/env python3
"""The demo's desktop part: the program beside a PIER.INI that lists the demo
image, under Wine.

    demo.py BUILD_DIR IMAGE PC_DIR

With a display the program simply runs there until the user closes it. With
none it runs on a private X server, copies one file from the Mac to the PC as
a user would (a click on the drive box, a double-click on the volume, a click
on the file and on Copy, OK in the preference dialog), saves a screenshot and
prints where.
"""

import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import scenarios as s  # noqa: E402
from harness import Failure, Run, check, copy_program, ready_prefix, wine_env  # noqa: E402

FILE = "Random Data"


def on_display(build, image, pc):
    folder = copy_program(build, os.path.join(build, "demo"))
    s.write_ini(folder, [image], pc)
    env = wine_env(ready_prefix(build), os.environ["DISPLAY"])
    print("Quaylink runs on your display; close it to end the demo.")
    return subprocess.run(["wine", os.path.join(folder, "quaylink.exe")], cwd=folder, env=env).returncode


def headless(build, image, pc):
    run = Run("demo", build, os.path.join(build, "e2e-logs"), timeout=180)
    ok = False
    try:
        s.write_ini(run.program_dir, [image], pc)
        main = s.open_drive(run, run.start(), f"[IMAGE {os.path.basename(image)}]")
        main = s.double_click(run, main, s.MAC_LIST, s.names(main, s.MAC_LIST)[0])
        main = s.copy(run, s.select(run, main, s.MAC_LIST, FILE), "PREFMAC")
        copied = [name for name in os.listdir(pc) if name.startswith("Random")]
        check(copied, "the copy reached the PC directory")
        check(any(line.startswith(copied[0]) for line in s.lines(main, s.PC_LIST)), "the PC list shows the copy")
        shot = os.path.join(build, "demo-screenshot.png")
        shutil.copy(run.screenshot("demo"), shot)
        print(f"The desktop program copied {FILE!r} from the Mac volume to the PC as {copied[0]!r}"
              f" ({os.path.getsize(os.path.join(pc, copied[0]))} bytes)")
        print(f"Screenshot of the main window: {shot}")
        run.exit()
        ok = True
    except Failure as error:
        print(f"The demo could not drive the program: {error}", file=sys.stderr)
    finally:
        run.close(keep=not ok)
    return 0 if ok else 1


def main():
    build, image, pc = (os.path.abspath(a) for a in sys.argv[1:4])
    if os.environ.get("DISPLAY"):
        return on_display(build, image, pc)
    return headless(build, image, pc)


if __name__ == "__main__":
    sys.exit(main())
