"""The tally of a test script that checks many things and reports each failure on its own:
expect() prints a condition that does not hold, with what it was about, and finish() prints the
count and ends the script with status 1 if any failed."""
import sys

failures = 0


def expect(condition, what):
    global failures
    if not condition:
        failures += 1
        print("FAILED:", what)


def finish():
    print(f"{failures} failures")
    sys.exit(1 if failures else 0)
