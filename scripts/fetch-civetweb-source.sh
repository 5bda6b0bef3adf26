#!/bin/sh
# Unpacks Debian's civetweb source package into DEST (a folder of the build
# tree) for the Windows build, which compiles the server library itself.
# Needs a deb-src entry; when there is none and we are root, one is derived
# from the machine's own apt sources. The source never enters the repository.
set -eu

dest=${1:?usage: fetch-civetweb-source.sh DEST}
want=${CORVEL_CIVETWEB_VERSION:-1.15}

if [ -f "$dest/src/civetweb.c" ] && [ -f "$dest/src/CivetServer.cpp" ]; then
    exit 0
fi

as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else
        echo "fetch-civetweb-source: needs root for: $*" >&2
        exit 1
    fi
}

if ! apt-cache showsrc civetweb 2>/dev/null | grep -q '^Package: civetweb'; then
    deb822=/etc/apt/sources.list.d/debian.sources
    derived=/etc/apt/sources.list.d/corvel-deb-src.sources
    if [ -f "$deb822" ] && ! grep -qs '^Types:.*deb-src' "$deb822" "$derived"; then
        echo "fetch-civetweb-source: adding source entries to $derived" >&2
        as_root sh -c "sed 's/^Types: deb\$/Types: deb-src/' '$deb822' > '$derived'"
    elif [ -f /etc/apt/sources.list ] && ! grep -qs '^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/*.list; then
        derived=/etc/apt/sources.list.d/corvel-deb-src.list
        echo "fetch-civetweb-source: adding source entries to $derived" >&2
        as_root sh -c "sed -n 's/^deb /deb-src /p' /etc/apt/sources.list > '$derived'"
    fi
    as_root apt-get update -qq
fi

if ! command -v dpkg-source >/dev/null 2>&1; then
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends dpkg-dev xz-utils
fi

work="$dest.download"
rm -rf "$work" "$dest"
mkdir -p "$work"
(cd "$work" && apt-get source --download-only -qq civetweb)
dsc=$(ls "$work"/civetweb_*.dsc | head -n 1)
dpkg-source -x "$dsc" "$dest" >/dev/null
rm -rf "$work"

version=$(sed -n 's/^#define CIVETWEB_VERSION "\(.*\)"$/\1/p' "$dest/include/civetweb.h")
if [ "$version" != "$want" ]; then
    echo "fetch-civetweb-source: got civetweb $version, the build is set up for $want" >&2
fi
echo "fetch-civetweb-source: civetweb $version in $dest"
