#!/usr/bin/env bash
# Runs the compatibility suite (the CTest label "compat") in a build folder
# and rewrites the tables of docs/compatibility.md from its results; the
# text above the "Packages:" line is kept as it is.
#
#   tests/compat/make-table.sh [build folder]     (default: build)
set -uo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}

cmake --build "$build" -j2 --target compat_runner || exit 1
rm -f "$build"/compat/*.tsv
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --no-tests=error --test-dir "$build" -L compat --output-on-failure -j2
status=$?
results=$(LC_ALL=C sort -t $'\t' -k1,2 "$build"/compat/*.tsv) && [ -n "$results" ] || exit 1
intro=$(sed '/^Packages:/,$d' docs/compatibility.md)
packages=$(cut -f1 <<<"$results" | uniq | while read -r package; do
    echo "\`$package\` $(dpkg-query -W -f='${Version}' "$package")"
done | paste -sd, | sed 's/,/, /g')
{
    printf '%s\n\n' "$intro"
    echo "Packages: $packages."
    # Columns: package, file, kind, then per aspect "status|detail", then the note.
    awk -F '\t' '
        function cell(result,   status, detail) {
            status = substr(result, 1, index(result, "|") - 1)
            detail = substr(result, index(result, "|") + 1)
            if (status == "ok") return detail == "" ? "yes" : "yes, " detail
            if (status == "fails") return "no"
            return detail == "" ? "—" : "— (" detail ")"
        }
        BEGIN { split("load audio midi settings state parameters layout editor unload", aspects, " ") }
        $1 != package {
            package = $1
            print "\n## " package "\n"
            print "| Plug-in | Kind | Load | Audio | MIDI | Rate & size | State | Parameters | Layout | Editor | Unload | Notes |"
            print "|---|---|---|---|---|---|---|---|---|---|---|---|"
        }
        {
            row = "| `" $2 "` | " $3
            notes = $13
            for (i = 4; i <= 12; i++) {
                row = row " | " cell($i)
                if ($i ~ /^fails\|/) notes = notes " " aspects[i - 3] ": " substr($i, 7) "."
            }
            print row " | " notes " |"
        }' <<<"$results"
} >docs/compatibility.md.new && mv docs/compatibility.md.new docs/compatibility.md
exit $status
