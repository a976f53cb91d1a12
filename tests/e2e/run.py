#!/usr/bin/env python3
"""Runs the desktop program's end-to-end scenarios under Wine.

    run.py BUILD_DIR CLI [--jobs N] [--only RUN[,RUN]] [--timeout S]

BUILD_DIR is the x86_64 Windows build (quaylink.exe, QUAYLINK.HTM); CLI the
native quaylink-cli, used as a checker. Logs go to BUILD_DIR/e2e-logs,
screenshots to BUILD_DIR/e2e-screenshots. Exit status 0 when every scenario
passed (or the tools are missing and we may not install them), 1 otherwise.
"""

import argparse
import concurrent.futures
import os
import shutil
import subprocess
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import Failure, Run, Tools, ready_prefix  # noqa: E402
import scenarios  # noqa: E402

TOOLS = {"Xvfb": "xvfb", "xdotool": "xdotool", "import": "imagemagick", "wine": "wine", "hformat": "hfsutils",
         "xwininfo": "x11-utils"}


def run_group(name, build, cli, logs, timeout):
    results, started = [], time.monotonic()
    run = Run(name, build, logs, timeout)
    failed = False
    try:
        tools = Tools(cli, run.home)
        env = scenarios.prepare(run, tools)
        for scenario in scenarios.RUNS[name]:
            t0 = time.monotonic()
            try:
                scenario(run, env)
                results.append((scenario.__name__, "PASS", time.monotonic() - t0, ""))
            except Exception as error:  # a scenario's fault must not stop the next one
                failed = True
                detail = str(error) if isinstance(error, Failure) else traceback.format_exc()
                try:
                    run.screenshot(f"failed-{scenario.__name__}")
                except Exception:
                    pass
                results.append((scenario.__name__, "FAIL", time.monotonic() - t0, detail))
                subprocess.run(["wineserver", "-k"], env=run.env)
                if run.proc:
                    run.proc.wait(30)
            results[-1] += (run.shot_paths,)
            run.shot_paths = []
    except Exception:
        failed = True
        results.append(("setup", "FAIL", 0.0, traceback.format_exc(), []))
    finally:
        run.close(keep=failed)
    return name, results, time.monotonic() - started


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("cli")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--only", default="")
    parser.add_argument("--timeout", type=int, default=300, help="seconds before a run's watchdog kills it")
    args = parser.parse_args()

    missing = sorted({package for tool, package in TOOLS.items() if not shutil.which(tool)})
    if missing:
        print(f"End-to-end tests SKIPPED: missing Debian packages {' '.join(missing)}", file=sys.stderr)
        return 0 if os.geteuid() != 0 else 1
    build = os.path.abspath(args.build)
    if not os.path.exists(os.path.join(build, "quaylink.exe")):
        print(f"no quaylink.exe in {build}", file=sys.stderr)
        return 1
    logs = os.path.join(build, "e2e-logs")
    shutil.rmtree(os.path.join(build, "e2e-screenshots"), ignore_errors=True)
    started = time.monotonic()
    ready_prefix(build)
    names = [n for n in scenarios.RUNS if not args.only or n in args.only.split(",")]
    failures = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        for name, results, seconds in pool.map(lambda n: run_group(n, build, os.path.abspath(args.cli), logs,
                                                                     args.timeout), names):
            print(f"== run {name} ({seconds:.1f} s)")
            for scenario, verdict, took, detail, shots in results:
                print(f"   {verdict} {scenario} ({took:.1f} s)")
                for shot in shots:
                    print(f"        screenshot {shot}")
                if detail:
                    failures += 1
                    print("        " + detail.replace("\n", "\n        "))
    print(f"End-to-end tests: {'FAILED' if failures else 'passed'} in {time.monotonic() - started:.1f} s;"
          f" logs in {logs}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
