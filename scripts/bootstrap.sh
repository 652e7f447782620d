#!/bin/sh
# Installs every Debian package Tallo needs to build, test, benchmark and package
# (lintian checks the package, go-md2man makes its man pages).
# Idempotent and non-interactive; uses sudo only when not root; waits for the
# package lock instead of failing.
set -eu

PACKAGES="
build-essential cmake ninja-build pkg-config git file dpkg-dev
zlib1g-dev
qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-translations-l10n
libgl-dev libxkbcommon-dev
firebird-dev libfbclient2 firebird3.0-server-core firebird3.0-server firebird3.0-utils firebird3.0-examples
googletest libgtest-dev libgmock-dev
clang clang-format libclang-rt-14-dev llvm
xvfb xauth openbox x11-utils imagemagick
fonts-liberation2 fonts-dejavu-core
python3 python3-xlib procps psmisc time
lintian go-md2man
"

if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
if [ -z "$missing" ]; then
    exit 0
fi

# The server package asks for a SYSDBA password; the test scripts set their own.
echo "firebird3.0-server shared/firebird/enabled boolean true" | $SUDO debconf-set-selections 2>/dev/null || true

APT_OPTS="-o DPkg::Lock::Timeout=600 -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold -y -q"
# Keep the package server from starting a daemon during installation: the
# tests start their own server by PID.
POLICY=/usr/sbin/policy-rc.d
created_policy=0
if [ ! -e "$POLICY" ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$POLICY" >/dev/null
    $SUDO chmod +x "$POLICY"
    created_policy=1
fi
cleanup() { if [ "$created_policy" = 1 ]; then $SUDO rm -f "$POLICY"; fi; }
trap cleanup EXIT

$SUDO apt-get $APT_OPTS update || true
# shellcheck disable=SC2086
$SUDO apt-get $APT_OPTS install --no-install-recommends $missing
