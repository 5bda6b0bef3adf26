#!/usr/bin/env bash
# Builds both packages and checks them as a user meets them: the Debian
# package installed on this machine, the Windows installer under Wine.
# CORVEL_LINUX_BUILD and CORVEL_WINDOWS_BUILD pass through to
# scripts/package.sh (CI names the builds its other tests made).
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/install-deps.sh --packaging-checks
bash scripts/package.sh

# The two share nothing, so they run side by side; each one's lines are
# printed together when it is done.
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
bash tests/package/deb-checks.sh dist/corvel-vst-remote_*.deb >"$logs/deb" 2>&1 &
deb=$!
bash tests/package/installer-checks.sh dist/corvel-vst-remote-*-setup.exe >"$logs/installer" 2>&1 &
installer=$!
status=0
wait "$deb" || status=1
wait "$installer" || status=1
printf '=== Debian package\n%s\n=== Windows installer\n%s\n' "$(cat "$logs/deb")" "$(cat "$logs/installer")"
exit $status
