#!/bin/sh
# Unpacks Debian's civetweb source package into DEST (a folder of the build
# tree) for the Windows build, which compiles the server library itself
# (scripts/debian-source.sh does the fetching).
set -eu

dest=${1:?usage: fetch-civetweb-source.sh DEST}
want=${CORVEL_CIVETWEB_VERSION:-1.15}

if [ -f "$dest/src/civetweb.c" ] && [ -f "$dest/src/CivetServer.cpp" ]; then
    exit 0
fi

work="$dest.download"
rm -rf "$work" "$dest"
sh "$(dirname "$0")/debian-source.sh" civetweb "$work"
mv "$work/source" "$dest"
rm -rf "$work"

version=$(sed -n 's/^#define CIVETWEB_VERSION "\(.*\)"$/\1/p' "$dest/include/civetweb.h")
if [ "$version" != "$want" ]; then
    echo "fetch-civetweb-source: got civetweb $version, the build is set up for $want" >&2
fi
echo "fetch-civetweb-source: civetweb $version in $dest"
