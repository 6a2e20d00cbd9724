#!/usr/bin/env python3
"""The core keeps no state of its own: its libraries hold no object in writable memory (.data,
.bss and the like) but the built-in table's data and the built-in table made from it once. A run's
state lives in the run its caller makes, so that runs may live side by side.

    core_state.py ARCHIVE ...

Reads the archives' symbol tables with objdump; objects of a link-time-optimised build carry no
such table, and are passed over with a word (the sanitizer suite's build has them).
"""
import re
import subprocess
import sys

# What may stay: the built-in table's generated data, the value made from it on first use, the
# compiler's own references, and the sanitizers' bookkeeping.
ALLOWED = re.compile(r"^(ISBN_range|ISBN_range_979_first_row|built_in_ISBN_table\(\)::table|"
                     r"guard variable for built_in_ISBN_table\(\)::table|\.hidden DW\.ref\..*|"
                     r"__odr_asan\..*|__asan_.*|__ubsan_.*|__sancov_.*)$")
WRITABLE = re.compile(r"^\.(data|bss|tdata|tbss)(\.|$)")

found = []
seen = 0
for archive in sys.argv[1:]:
    table = subprocess.run(["objdump", "-t", "-C", archive], capture_output=True, text=True, check=True).stdout
    for line in table.splitlines():
        # address, flags, section, size, name; the flags column may hold spaces
        match = re.match(r"^[0-9a-f]+ (.{7}) (\S+)\s+[0-9a-f]+ (.*)$", line)
        if not match or "O" not in match.group(1):
            continue
        seen += 1
        section, name = match.group(2), match.group(3)
        if WRITABLE.match(section) and not section.startswith(".data.rel.ro") and not ALLOWED.match(name):
            found.append(f"{archive}: {name} ({section})")
if seen == 0:
    print("skipped: the archives carry no symbol table of objects (a link-time-optimised build)")
    sys.exit(0)
for item in found:
    print("FAILED: mutable state in the core:", item)
print(f"{seen - len(found)} passed, {len(found)} failed")
sys.exit(1 if found else 0)
