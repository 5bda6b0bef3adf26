#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy) over the Linux build's translation units and
# fails on any finding. A whole run costs about 4.5 s of processor time per
# unit, some five minutes on 2 idle cores, so by default it checks only the
# units that a change since a base revision touches: the changed sources and
# every unit whose build dependencies hold a changed header. The Windows-only
# sources are in no Linux build and are not checked.
#
#   scripts/lint.sh [--build DIR] [--all | --since REV | FILE...]
#
# --build DIR  a Ninja build; configured with CMAKE_EXPORT_COMPILE_COMMANDS=ON
#              and built here first (default: build)
# --all        every translation unit of the project
# --since REV  units touched by the changes since this branch left REV,
#              committed or not (default: main; on REV itself, its last commit)
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
since=main
mode=since
files=()
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --all) mode=all; shift ;;
    --since) since=$2; shift 2 ;;
    -*) echo "usage: $0 [--build DIR] [--all | --since REV | FILE...]" >&2; exit 2 ;;
    *) mode=files; files+=("$1"); shift ;;
  esac
done

# Built, so that generated headers exist and the header dependencies are current.
cmake -S . -B "$build" -G Ninja -DCORVEL_BUILD_TESTS=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
if ! built=$(cmake --build "$build" -j"$(nproc)" 2>&1); then
  echo "$built" >&2
  exit 1
fi

changed=()
if [ "$mode" = since ]; then
  base=$(git merge-base "$since" HEAD)
  # On the base itself: what its last commit (a merge, usually) brought.
  [ "$base" = "$(git rev-parse HEAD)" ] && base=$(git rev-parse HEAD~1)
  echo "lint: changes since $(git log -1 --format='%h %s' "$base")"
  mapfile -t changed < <({ git diff --name-only "$base" --; git ls-files --others --exclude-standard; } |
    grep -E '\.(cpp|h)$' | sort -u)
fi

log=$(mktemp)
database=$(mktemp -d)
trap 'rm -rf "$log" "$database"' EXIT

# The project's units (not generated ones) that the mode selects. The
# database is copied without the flags only GCC knows, which clang refuses.
mapfile -t selected < <(python3 - "$build" "$database" "$mode" "${files[@]}" "${changed[@]}" <<'PYTHON'
import json, os, shlex, subprocess, sys
build, database, mode, paths = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
gcc_only = {"-fno-gnu-unique"}
real = os.path.realpath
entries, units = json.load(open(os.path.join(build, "compile_commands.json"))), []
for entry in entries:
    entry["command"] = shlex.join(a for a in shlex.split(entry["command"]) if a not in gcc_only)
    path = os.path.relpath(real(os.path.join(entry["directory"], entry["file"])))
    # A unit built more than once (each test plug-in) is checked once, with
    # every one of its commands.
    if path.split(os.sep)[0] in ("src", "tests", "bench", "fuzz") and path not in units:
        units.append(path)
json.dump(entries, open(os.path.join(database, "compile_commands.json"), "w"))
if mode == "all":
    sys.stdout.write("".join(u + "\n" for u in units))
elif mode == "files":
    sys.stdout.write("".join(p + "\n" for p in paths))
else:
    # ninja -t deps: "object: #deps ..." then, indented, the unit and its headers.
    touched, unit, wanted = set(), None, {real(p) for p in paths}
    deps = subprocess.run(["ninja", "-C", build, "-t", "deps"], capture_output=True, text=True,
                          check=True).stdout
    for line in deps.splitlines():
        if not line.startswith(" "):
            unit = None
        elif unit is None:
            unit = os.path.relpath(real(line.strip()))
            if real(unit) in wanted:
                touched.add(unit)
        elif real(line.strip()) in wanted:
            touched.add(unit)
    # Nothing at all when no unit was touched, not an empty line.
    sys.stdout.write("".join(u + "\n" for u in units if u in touched))
PYTHON
)

if [ ${#selected[@]} -eq 0 ]; then
  echo "lint: no translation unit to check"
  exit 0
fi
echo "lint: ${#selected[@]} translation units"

# One unit per clang-tidy, as many at once as there are cores. A header's
# findings repeat for every unit that includes it, so each is shown once.
status=0
printf '%s\n' "${selected[@]}" |
  xargs -P"$(nproc)" -n1 clang-tidy -p "$database" --quiet >"$log" 2>&1 || status=$?
if [ "$mode" = files ]; then
  cat "$log"  # with each finding's notes
else
  grep -E '(^|: )(warning|error): ' "$log" | sort -u || true
fi
if [ "$status" -ne 0 ]; then
  echo "lint: findings above; $0 FILE shows one unit's with their notes" >&2
  exit 1
fi
echo "lint: clean"
