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

export WINEPREFIX=$root/build-package/wineprefix-checks WINEDEBUG=-all
# No .NET or HTML runtime prompts, and no menu entries written on the host.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
rm -rf "$WINEPREFIX"
. "$root/scripts/xvfb.sh"
start_xvfb installer-checks
trap 'wineserver -k 2>/dev/null || true; kill "$xvfb_pid" 2>/dev/null || true' EXIT
"$root/scripts/wine-prefix.sh"
wineserver -p  # one server for the whole run

unix_path() { realpath -m "$(winepath -u "$(wine cmd /c echo "$1" | tr -d '\r')")"; }
install_dir=$(unix_path '%LOCALAPPDATA%')/Programs/Corvel\ VST\ Remote
win_dir=$(winepath -w "$install_dir")
roaming=$(unix_path '%APPDATA%')
shortcut="$roaming/Microsoft/Windows/Start Menu/Programs/Corvel VST Remote.lnk"
allow_list="$roaming/Corvel VST Remote/allowed-origins.txt"
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\CorvelVSTRemote'
value_of() {  # KEY NAME: the value's data, or nothing
    { wine reg query "$1" 2>/dev/null || true; } | tr -d '\r' | sed -n "s|^ *$2 *REG_[A-Z]* *||p"
}
has_values() {  # KEY NAME=DATA...
    local key=$1 pair got
    shift
    for pair in "$@"; do
        got=$(value_of "$key" "${pair%%=*}")
        [ "$got" = "${pair#*=}" ] || { echo "  ${pair%%=*} is '$got', expected '${pair#*=}'" >&2; return 1; }
    done
}
user_files() { find "$WINEPREFIX/drive_c/users" -path '*/Temp' -prune -o -print | sort; }
start_from_run_value() {  # as Windows does at login
    port=$(free_port)
    CORVEL_TEST_PORT=$port wine "$(value_of "$run_key" "Corvel VST/Remote" | sed 's/^"\(.*\)"$/\1/')" >/dev/null 2>&1 &
    program=$!
}
installed() {
    ls "$install_dir"/{corvel-vst-remote.exe,corvel-plugin-host.exe,corvel-plugin-host32.exe,uninstall.exe,civetweb-license.txt} "$shortcut" >/dev/null
}
replaced() { [ "$(stat -c %Y "$install_dir/corvel-vst-remote.exe")" -gt "$(date -d 2000-01-02 +%s)" ]; }
has_key() { wine reg query "$1" >/dev/null 2>&1; }
nothing_registered() { [ -z "$(value_of "$run_key" "Corvel VST/Remote")" ] && ! has_key "$uninstall_key"; }

before=$(user_files)
check "a silent install succeeds" wine "$setup" /S
check "the program, its plug-in process, the uninstaller, the licence and the shortcut are in place" installed
exe="\"$win_dir\\corvel-vst-remote.exe\""
check "the uninstall entry is in place" has_values "$uninstall_key" \
    "DisplayName=Corvel VST/Remote" "DisplayVersion=$version" "Publisher=Corvel" "DisplayIcon=$exe,0" \
    "UninstallString=\"$win_dir\\uninstall.exe\"" "QuietUninstallString=\"$win_dir\\uninstall.exe\" /S"
check "the program starts at login" has_values "$run_key" "Corvel VST/Remote=$exe"

start_from_run_value
check "the program started from the Run value greets a client" greets "$port" "$version"
touch -d 2000-01-01 "$install_dir/corvel-vst-remote.exe"
check "a second silent install over the running program succeeds" wine "$setup" /S
check "the installer ends the running program cleanly" exits_cleanly "$program"
check "the second install replaces the program" replaced
start_from_run_value
check "the replaced program greets a client" greets "$port" "$version"

mkdir -p "$(dirname "$allow_list")"
echo "https://daw.example" >"$allow_list"
check "a silent uninstall succeeds" wine "$install_dir/uninstall.exe" /S
check "the uninstaller ends the running program cleanly" exits_cleanly "$program"
# The uninstaller runs on from a copy of itself; removing the entry is its last step.
for _ in $(seq 60); do
    has_key "$uninstall_key" || break
    sleep 0.5
done
check "the install folder and the shortcut are gone" test ! -e "$install_dir" -a ! -e "$shortcut"
check "the Run value and the uninstall entry are gone" nothing_registered
check "only the user's allow-list is left of what was added" \
    test "$(comm -13 <(echo "$before") <(user_files))" = "$(dirname "$allow_list")"$'\n'"$allow_list"
finish "installer checks"
