#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; does nothing when all are present.
set -euo pipefail
# fonts-wqy-microhei writes the Chinese texts of the windows and of the export caption;
# libfreetype-dev and libfontconfig-dev draw that caption.
PACKAGES="build-essential cmake ninja-build pkg-config qt6-base-dev libavcodec-dev libavutil-dev
libswscale-dev libswresample-dev libavformat-dev libsqlite3-dev libcurl4-openssl-dev libturbojpeg0-dev libsdl2-dev
libgtest-dev libbenchmark-dev fonts-liberation2 zlib1g-dev ffmpeg clang libclang-rt-14-dev libcpp-httplib-dev
samba libsmbclient-dev smbclient fonts-wqy-microhei libfreetype-dev libfontconfig-dev"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
fi
