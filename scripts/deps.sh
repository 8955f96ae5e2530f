#!/usr/bin/env bash
# Installs the Debian packages that Pradelux needs to build, run and test:
# only those that are missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config python3 ccache bc
  qt6-base-dev qt6-base-dev-tools libgl-dev
  googletest libgtest-dev libgmock-dev
  dbus dbus-bin xvfb xauth
  libreoffice-impress-nogui fonts-liberation fonts-crosextra-carlito fonts-crosextra-caladea
  fonts-noto-core fonts-noto-cjk fonts-symbola fonts-dejavu-core fonts-urw-base35 fonts-comic-neue fonts-ebgaramond
  # Not the package's: a desktop's colour emoji, which LibreOffice 7.4 prints blank, for the tests.
  fonts-noto-color-emoji
  poppler-utils qpdf libpoppler-qt6-dev libreofficekit-dev libreoffice-dev zlib1g-dev
  python3-uno bubblewrap libseccomp-dev libfontconfig-dev libgoogle-perftools-dev clang libclang-rt-dev strace
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Run as root, the renderer's LibreOffice runs as a system user of its own,
# which the package makes; for a build run as root, it is made here.
if [ "$(id -u)" -eq 0 ] && ! getent passwd _pradelux >/dev/null; then
  useradd --system --user-group --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin _pradelux
fi
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=
if [ "$(id -u)" -ne 0 ]; then sudo=sudo; fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
