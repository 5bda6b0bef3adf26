#!/usr/bin/env bash
# Assembles the Debian package from a Linux build:
#   packaging/linux/make-deb.sh VERSION BUILD_DIR OUT_DIR PROGRAM:FOLDER...
# Each PROGRAM of the build goes into FOLDER (for example usr/bin). The
# dependencies come from the libraries the programs link.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
version=$1 build=$2 out=$3
shift 3
name=corvel-vst-remote
architecture=$(dpkg --print-architecture)
maintainer=${CORVEL_MAINTAINER:-"Corvel <packages@corvel.example>"}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree=$work/debian/$name
umask 022

binaries=()
for entry in "$@"; do
  program=${entry%%:*} folder=${entry#*:}
  install -D -m 0755 "$build/$program" "$tree/$folder/$program"
  # As Debian's own packaging strips: debugging symbols and notes go.
  strip --strip-unneeded --remove-section=.comment --remove-section=.note "$tree/$folder/$program"
  binaries+=("debian/$name/$folder/$program")
done

install -D -m 0644 "$here/$name.desktop" "$tree/usr/share/applications/$name.desktop"
install -D -m 0644 "$here/$name.desktop" "$tree/etc/xdg/autostart/$name.desktop"
for size in 48 256; do
  icon=$tree/usr/share/icons/hicolor/${size}x${size}/apps/$name.png
  mkdir -p "$(dirname "$icon")"
  python3 "$root/scripts/make-icon.py" app-png "$size" "$icon"
  chmod 0644 "$icon"
done
mkdir -p "$tree/usr/share/man/man1" "$tree/usr/share/doc/$name"
sed "s/@VERSION@/$version/" "$here/$name.1" | gzip -9n >"$tree/usr/share/man/man1/$name.1.gz"
install -m 0644 "$here/copyright" "$tree/usr/share/doc/$name/copyright"
gzip -9n <"$here/changelog" >"$tree/usr/share/doc/$name/changelog.gz"
chmod 0644 "$tree/usr/share/man/man1/$name.1.gz" "$tree/usr/share/doc/$name/changelog.gz"

# dpkg-shlibdeps reads the package names from debian/control where it runs,
# and finds the package's root by its DEBIAN folder.
mkdir -p "$tree/DEBIAN"
printf 'Source: %s\n\nPackage: %s\nArchitecture: any\n' "$name" "$name" >"$work/debian/control"
depends=$(cd "$work" && dpkg-shlibdeps -O "${binaries[@]}")
depends=${depends#shlibs:Depends=}

installed_size=$(du -sk --exclude=DEBIAN "$tree" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@ARCHITECTURE@/$architecture/" \
    -e "s/@MAINTAINER@/$maintainer/" -e "s/@INSTALLED_SIZE@/$installed_size/" \
    -e "s/@DEPENDS@/$depends/" "$here/control.in" >"$tree/DEBIAN/control"
# Debian keeps files under /etc as the user's configuration until a purge.
echo "/etc/xdg/autostart/$name.desktop" >"$tree/DEBIAN/conffiles"
(cd "$tree" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$tree/DEBIAN/md5sums"
chmod 0644 "$tree/DEBIAN/"*

mkdir -p "$out"
dpkg-deb --root-owner-group -Zxz --build "$tree" "$out/${name}_${version}_${architecture}.deb" >/dev/null
echo "$out/${name}_${version}_${architecture}.deb"
