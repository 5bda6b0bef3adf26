#!/usr/bin/env bash
# The Debian package as a user meets it, on this machine: lintian, apt-get
# install, the program started from the autostart entry, apt-get remove.
#   tests/package/deb-checks.sh dist/corvel-vst-remote_VERSION_ARCH.deb
# Needs root (or sudo) for apt-get.
set -euo pipefail
. "$(dirname "$0")/checks.sh"
deb=$(realpath "$1")
version=$(dpkg-deb -f "$deb" Version)
name=$(dpkg-deb -f "$deb" Package)
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
apt() {
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get -y -qq -o DPkg::Lock::Timeout=120 "$@" >/dev/null
}

check "lintian reports no errors" lintian --fail-on error "$deb"

# The files the package ships, and which of them Debian keeps until a purge.
mapfile -t shipped < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -n 's|^\./\(.*[^/]\)$|/\1|p')
conffile=/etc/xdg/autostart/$name.desktop
all_present() { for f in "${shipped[@]}"; do [ -e "$f" ] || return 1; done; }
none_left() {  # FILE TO ALLOW
    for f in "${shipped[@]}"; do
        [ -e "$f" ] && [ "$f" != "${1:-}" ] && { echo "left behind: $f" >&2; return 1; }
    done
    return 0
}

dpkg-query -W "$name" >/dev/null 2>&1 && apt purge "$name"
check "apt-get installs the package" apt install "$deb"
check "every file of the package is in place" all_present

# Started as the desktop session starts it at login.
command=$(sed -n 's/^Exec=//p' "$conffile")
port=$(free_port)
CORVEL_TEST_PORT=$port $command >/dev/null &
program=$!
check "the program started from the autostart entry greets a client" greets "$port" "$version"
kill -TERM "$program" 2>/dev/null || true  # a program that is gone fails the next check
check "the program ends cleanly on SIGTERM" exits_cleanly "$program"

check "apt-get removes the package" apt remove "$name"
check "removal leaves only the autostart entry, which Debian keeps until a purge" none_left "$conffile"
check "apt-get purges the package" apt purge "$name"
check "a purge leaves none of its files" none_left
finish "deb checks"
