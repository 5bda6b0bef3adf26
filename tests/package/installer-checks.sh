#!/usr/bin/env bash
# The Windows installer as a user meets it, under Wine in a fresh prefix:
# silent install, the program started from its Run value, a second install
# over the running program, a silent uninstall.
#   tests/package/installer-checks.sh dist/corvel-vst-remote-VERSION-setup.exe
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/tests/package/checks.sh"
setup=$(realpath "$1")
version=$(basename "$setup" | sed 's/^corvel-vst-remote-\(.*\)-setup\.exe$/\1/')

WINEPREFIX=$root/build-package/wineprefix-checks
WINEDEBUG=-all
# No .NET or HTML runtime prompts, and no menu entries written on the host.
WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
rm -rf "$WINEPREFIX"
. "$root/scripts/xvfb.sh"
start_xvfb installer-checks
trap 'wineserver -k 2>/dev/null || true; kill "$xvfb_pid" 2>/dev/null || true' EXIT
"$root/scripts/wine-prefix.sh"
# One server for the whole run, rather than one started for every command.
wineserver -p

unix_path() { realpath -m "$(winepath -u "$(wine cmd /c echo "$1" | tr -d '\r')")"; }
install_dir=$(unix_path '%LOCALAPPDATA%')/Programs/Corvel\ VST\ Remote
roaming=$(unix_path '%APPDATA%')
shortcut="$roaming/Microsoft/Windows/Start Menu/Programs/Corvel VST Remote.lnk"
allow_list="$roaming/Corvel VST Remote/allowed-origins.txt"
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\CorvelVSTRemote'
registry_values() {  # KEY: its values, one "NAME REG_TYPE DATA" a line; nothing if it is missing
    local values
    values=$(wine reg query "$1" 2>/dev/null) && tr -d '\r' <<<"$values" || true
}
value_of() {  # NAME VALUES: the named value's data, or nothing
    sed -n "s|^ *$1 *REG_[A-Z]* *||p" <<<"$2"
}
user_files() {  # what is in the user's folders, leaving out temporary files
    find "$WINEPREFIX/drive_c/users" -path '*/Temp' -prune -o -print | sort
}
program=""
start_from_run_value() {  # starts the program as Windows does at login
    local command
    command=$(value_of "Corvel VST/Remote" "$(registry_values "$run_key")" | sed 's/^"\(.*\)"$/\1/')
    port=$(free_port)
    CORVEL_TEST_PORT=$port wine "$command" >/dev/null 2>&1 &
    program=$!
}
ended_cleanly() { exits_cleanly "$program"; }
replaced() { [ "$(stat -c %Y "$install_dir/corvel-vst-remote.exe")" -gt "$(date -d 2000-01-02 +%s)" ]; }
equals() { [ "$1" = "$2" ] || { echo "  got '$1', expected '$2'" >&2; return 1; }; }
installed() {
    local file
    for file in corvel-vst-remote.exe corvel-plugin-host.exe uninstall.exe civetweb-license.txt; do
        [ -f "$install_dir/$file" ] || return 1
    done
}
uninstall_entry() {
    local win_dir exe entry
    win_dir=$(winepath -w "$install_dir")
    exe="\"$win_dir\\corvel-vst-remote.exe\""
    entry=$(registry_values "$uninstall_key")
    equals "$(value_of DisplayName "$entry")" "Corvel VST/Remote" &&
    equals "$(value_of DisplayVersion "$entry")" "$version" &&
    equals "$(value_of Publisher "$entry")" "Corvel" &&
    equals "$(value_of DisplayIcon "$entry")" "$exe,0" &&
    equals "$(value_of UninstallString "$entry")" "\"$win_dir\\uninstall.exe\"" &&
    equals "$(value_of QuietUninstallString "$entry")" "\"$win_dir\\uninstall.exe\" /S" &&
    equals "$(value_of "Corvel VST/Remote" "$(registry_values "$run_key")")" "$exe"
}
nothing_registered() {
    [ -z "$(value_of "Corvel VST/Remote" "$(registry_values "$run_key")")" ] &&
    [ -z "$(registry_values "$uninstall_key")" ]
}

before=$(user_files)
check "a silent install succeeds" wine "$setup" /S
check "the program, its plug-in process, the uninstaller and the server library's licence are installed" installed
check "the Start menu shortcut is in place" test -f "$shortcut"
check "the Run value and the uninstall entry are in place" uninstall_entry

start_from_run_value
check "the program started from the Run value greets a client" greets "$port" "$version"
touch -d 2000-01-01 "$install_dir/corvel-vst-remote.exe"
check "a second silent install over the running program succeeds" wine "$setup" /S
check "the installer ends the running program cleanly" ended_cleanly
check "the second install replaces the program" replaced
start_from_run_value
check "the replaced program greets a client" greets "$port" "$version"

mkdir -p "$(dirname "$allow_list")"
echo "https://daw.example" >"$allow_list"
check "a silent uninstall succeeds" wine "$install_dir/uninstall.exe" /S
check "the uninstaller ends the running program cleanly" ended_cleanly
# The uninstaller runs on from a copy of itself; removing the entry is its
# last step.
for _ in $(seq 60); do
    [ -z "$(registry_values "$uninstall_key")" ] && break
    sleep 0.5
done
check "the install folder and the shortcut are gone" test ! -e "$install_dir" -a ! -e "$shortcut"
check "the Run value and the uninstall entry are gone" nothing_registered
check "only the user's allow-list is left of what was added" \
    equals "$(comm -13 <(echo "$before") <(user_files))" "$(dirname "$allow_list")"$'\n'"$allow_list"
finish "installer checks"
