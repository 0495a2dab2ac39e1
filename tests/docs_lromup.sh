#!/usr/bin/env bash
# lromup(8) and the README's command-line section name every switch of the
# updater's switch table and every exit status its headers define.
# Usage: docs_lromup.sh <source dir>
set -u
exec python3 - "$1" <<'PYEOF'
import re, sys, pathlib

src = pathlib.Path(sys.argv[1])
read = lambda path: (src / path).read_text()

switches = re.findall(r'^\s*\{"([^"]+)", SwitchKind::', read("flash/switches.cpp"), re.M)
statuses = set()
for path, pattern in [("flash/exit_status.h", r"constexpr int EXIT_\w+ = (\d+);"),
                      ("flash/switches.h", r"constexpr int EXIT_\w+ = (\d+);"),
                      ("flash/runseq.h", r"constexpr int MODEL_\w+ = (\d+);"),
                      ("platform/vpd.h", r"constexpr int IDENTITY_LOST = (\d+);"),
                      ("os/linmem.cpp", r"constexpr int EXIT_NO_PHYS_MEM = (\d+);")]:
    found = re.findall(pattern, read(path))
    if not found:
        sys.exit(f"no exit status found in {path}: the test needs updating")
    statuses.update(int(n) for n in found)
if len(switches) < 16:
    sys.exit(f"only {len(switches)} switches found in flash/switches.cpp")

# The man page with its escapes undone; the README's "Command line" section.
man = read("man/lromup.8").replace("\\-", "-").replace("\\fR", " ").replace("\\fI", " ")
man_status = man.split(".SH EXIT STATUS", 1)[1].split(".SH", 1)[0]
readme = read("README.md").split("## Command line", 1)[1].split("\n## ", 1)[0]
readme_status = readme.split("Exit status:", 1)[1].split("\n\n", 1)[0]

def names(text, word):
    return re.search(r"(^|[\s\"(`,|\[])" + re.escape(word) + r"($|[\s\")`,|\]])", text, re.M)

problems = []
for switch in switches:
    if not names(man.split(".SH EXIT STATUS", 1)[0], switch):
        problems.append(f"lromup(8) does not name the switch {switch}")
    if not names(readme, switch):
        problems.append(f"README's Command line does not name the switch {switch}")
for status in sorted(statuses):
    if not re.search(rf"^\.BR? .*\b{status}\b", man_status, re.M):
        problems.append(f"lromup(8) EXIT STATUS does not list {status}")
    if not re.search(rf"(^|[\s;(/]){status}([\s/]|$)", readme_status):
        problems.append(f"README's exit statuses do not list {status}")
print("\n".join(problems) or f"{len(switches)} switches and {len(statuses)} statuses documented")
sys.exit(1 if problems else 0)
PYEOF
