#!/bin/sh
# Downloads a Debian source package into DEST (a folder of the build tree)
# and unpacks it into DEST/source, its version into DEST/version. Needs a
# deb-src entry; when there is none and we are root, one is derived from the
# machine's own apt sources by changing the entries' type. The source never
# enters the repository.
#   scripts/debian-source.sh PACKAGE DEST
# Does nothing when DEST/source is already there.
set -eu
package=${1:?usage: debian-source.sh PACKAGE DEST}
dest=${2:?usage: debian-source.sh PACKAGE DEST}
[ -f "$dest/source/.complete" ] && exit 0

as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else
        echo "debian-source: needs root for: $*" >&2
        exit 1
    fi
}

if ! apt-cache showsrc "$package" 2>/dev/null | grep -q "^Package: $package\$"; then
    deb822=/etc/apt/sources.list.d/debian.sources
    derived=/etc/apt/sources.list.d/corvel-deb-src.sources
    if [ -f "$deb822" ] && ! grep -qs '^Types:.*deb-src' "$deb822" "$derived"; then
        echo "debian-source: adding source entries to $derived" >&2
        as_root sh -c "sed 's/^Types: deb\$/Types: deb-src/' '$deb822' > '$derived'"
    elif [ -f /etc/apt/sources.list ] && ! grep -qs '^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/*.list; then
        derived=/etc/apt/sources.list.d/corvel-deb-src.list
        echo "debian-source: adding source entries to $derived" >&2
        as_root sh -c "sed -n 's/^deb /deb-src /p' /etc/apt/sources.list > '$derived'"
    fi
    as_root apt-get update -qq
fi
if ! command -v dpkg-source >/dev/null 2>&1; then
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends dpkg-dev xz-utils
fi

rm -rf "$dest/download" "$dest/source"
mkdir -p "$dest/download"
cd "$dest/download"
if apt-get source --download-only -qq "$package" && dpkg-source -x ./"$package"_*.dsc ../source >/dev/null; then
    :
else
    # The mirror may lack Debian's packaging part (seen: a 404 for
    # dpf-plugins' debian.tar.xz). Our builds use only the upstream code, so
    # its tarball will do once its checksum matches the signed .dsc.
    orig=$(ls ./"$package"_*.orig.tar.* 2>/dev/null | head -n 1)
    [ -n "$orig" ] || { echo "debian-source: could not download $package" >&2; exit 1; }
    want=$(sed -n '/^Checksums-Sha256:/,/^[^ ]/s/^ \([0-9a-f]*\) [0-9]* \(.*\.orig\.tar\..*\)$/\1 \2/p' ./"$package"_*.dsc)
    echo "$want" | sha256sum -c --quiet || { echo "debian-source: $orig does not match its .dsc" >&2; exit 1; }
    echo "debian-source: $package without Debian's packaging, from $orig" >&2
    mkdir ../source
    tar -xf "$orig" -C ../source --strip-components=1
fi
cd ..
sed -n 's/^Version: //p' download/"$package"_*.dsc >version
rm -rf download
touch source/.complete
