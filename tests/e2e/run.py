#!/usr/bin/env python3
"""Runs end-to-end scenarios of tolvanix.exe under Wine.

  python3 tests/e2e/run.py --list            the scenario names (CTest registers one test each)
  python3 tests/e2e/run.py NAME [NAME...]    runs those scenarios
  python3 tests/e2e/run.py --all             runs every scenario, one after the other

Without DISPLAY it starts an Xvfb of its own for the run (message boxes need a display).
--keep keeps each scenario's prefix for a look; --exe and --helpers default to the preset's
build tree (build/windows).
"""

import argparse
import glob
import importlib.util
import os
import signal
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import bed  # noqa: E402


def load_scenarios():
    for path in sorted(glob.glob(os.path.join(HERE, "scenarios", "*.py"))):
        name = "scenarios_" + os.path.splitext(os.path.basename(path))[0]
        found = importlib.util.spec_from_file_location(name, path)
        module = importlib.util.module_from_spec(found)
        found.loader.exec_module(module)
    return bed.SCENARIOS


def start_xvfb():
    """The X server of tests/wine-env.sh; returns (pid, display)."""
    display, pid = bed.shell_env("tolv_start_xvfb").split()
    return int(pid), display


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("names", nargs="*")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--all", action="store_true")
    parser.add_argument("--keep", action="store_true", help="keep the scenario prefixes")
    build = os.path.join(bed.REPO, "build", "windows")
    parser.add_argument("--exe", default=os.path.join(build, "tolvanix.exe"))
    parser.add_argument("--helpers", default=os.path.join(build, "tests", "e2e", "helpers"))
    args = parser.parse_args()

    scenarios = load_scenarios()
    if args.list:
        print("\n".join(scenarios))
        return 0
    names = list(scenarios) if args.all else args.names
    unknown = [n for n in names if n not in scenarios]
    if unknown or not names:
        parser.error("unknown scenario(s): %s" % " ".join(unknown) if unknown else
                     "name a scenario, or --all, or --list")
    for path in (args.exe, os.path.join(args.helpers, "bedhelper.exe")):
        if not os.path.exists(path):
            parser.error("%s is missing: build first (cmake --build --preset windows)" % path)

    xvfb = None
    if not os.environ.get("DISPLAY"):
        xvfb, os.environ["DISPLAY"] = start_xvfb()
    run_dir = os.environ.get("TOLVANIX_E2E_RUN_DIR") or None
    failed = []
    start = time.monotonic()
    try:
        for name in names:
            if not bed.run_scenario(scenarios[name], os.path.abspath(args.exe),
                                    os.path.abspath(args.helpers), keep=args.keep,
                                    run_dir=run_dir):
                failed.append(name)
            sys.stdout.flush()
    finally:
        if xvfb is not None:
            os.kill(xvfb, signal.SIGTERM)
    if len(names) > 1:
        print("%d scenarios, %d failed, %.1f s%s" % (len(names), len(failed),
                                                    time.monotonic() - start,
                                                    ": " + " ".join(failed) if failed else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
