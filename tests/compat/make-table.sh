#!/usr/bin/env bash
# Rewrites the tables of docs/compatibility.md from the compatibility
# suite's results. The text above the "Packages:" line, and the Windows part
# from its "# On Windows" heading down to its "Built from:" line, are kept.
#
#   tests/compat/make-table.sh [build folder]     (default: build)
#       runs the Linux suite (the CTest label "compat") and writes its tables;
#   tests/compat/make-table.sh --windows [build folder]     (default: build-win)
#       writes the Windows tables from the results of the last
#       scripts/windows-ci.sh in that folder.
set -uo pipefail
cd "$(dirname "$0")/../.."
windows=0
[ "${1:-}" = --windows ] && { windows=1; shift; }
doc=docs/compatibility.md

# Columns: source, file, kind, then per aspect "status|detail", then the note.
# The arguments name the aspects shown: the Windows tables leave out those
# that only the Linux suite checks.
tables() {  # aspect...
    awk -F '\t' -v shown="$*" '
        function cell(result,   status, detail) {
            status = substr(result, 1, index(result, "|") - 1)
            detail = substr(result, index(result, "|") + 1)
            if (status == "ok") return detail == "" ? "yes" : "yes, " detail
            if (status == "fails") return "no"
            return detail == "" ? "—" : "— (" detail ")"
        }
        BEGIN {
            count = split("load audio midi settings state parameters layout editor unload", aspects, " ")
            split("Load|Audio|MIDI|Rate & size|State|Parameters|Layout|Editor|Unload", titles, "|")
            for (i = 1; i <= count; i++) show[i] = index(" " shown " ", " " aspects[i] " ") > 0
        }
        $1 != source {
            source = $1
            header = "| Plug-in | Kind"
            rule = "|---|---"
            for (i = 1; i <= count; i++) if (show[i]) { header = header " | " titles[i]; rule = rule "|---" }
            print "\n## " source "\n"
            print header " | Notes |"
            print rule "|---|"
        }
        {
            row = "| `" $2 "` | " $3
            notes = $(count + 4)
            for (i = 1; i <= count; i++) {
                if (show[i]) row = row " | " cell($(i + 3))
                if ($(i + 3) ~ /^fails\|/) notes = notes " " aspects[i] ": " substr($(i + 3), 7) "."
            }
            print row " | " notes " |"
        }'
}

linuxPart=$(sed '/^# On Windows/,$d' "$doc")
windowsPart=$(sed -n '/^# On Windows/,$p' "$doc")
status=0
if [ "$windows" = 1 ]; then
    build=${1:-build-win}
    results=$(LC_ALL=C sort -t $'\t' -k1,2 "$build"/compat/*.tsv) && [ -n "$results" ] || exit 1
    version=$(cat "$build/windows-plugins/version" 2>/dev/null)
    windowsPart=$(printf '%s\n\n%s\n%s' "$(sed '/^Built from:/,$d' <<<"$windowsPart")" \
        "Built from: Debian's \`dpf-plugins\` source${version:+ $version}, with $(x86_64-w64-mingw32-g++-posix -dumpversion 2>/dev/null | sed 's/^/mingw-w64 g++ /'); run under $(wine --version 2>/dev/null)." \
        "$(tables load audio midi settings state editor unload <<<"$results")")
else
    build=${1:-build}
    cmake --build "$build" -j2 --target compat_runner || exit 1
    rm -f "$build"/compat/*.tsv
    xvfb-run -a -s "-screen 0 1280x1024x24" ctest --no-tests=error --test-dir "$build" -L compat --output-on-failure -j2
    status=$?
    results=$(LC_ALL=C sort -t $'\t' -k1,2 "$build"/compat/*.tsv) && [ -n "$results" ] || exit 1
    packages=$(cut -f1 <<<"$results" | uniq | while read -r package; do
        echo "\`$package\` $(dpkg-query -W -f='${Version}' "$package")"
    done | paste -sd, | sed 's/,/, /g')
    linuxPart=$(printf '%s\n\nPackages: %s.\n%s' "$(sed '/^Packages:/,$d' <<<"$linuxPart")" "$packages" \
        "$(tables load audio midi settings state parameters layout editor unload <<<"$results")")
fi
printf '%s\n\n%s\n' "$linuxPart" "$windowsPart" >"$doc.new" && mv "$doc.new" "$doc"
exit $status
