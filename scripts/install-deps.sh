#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, skipping what is already there.
# The list is what a minimal Debian 12 root lacks (scripts/minimal-root-check.sh proves it):
# file for the package's library dependencies, systemd for checking the service unit,
# faketime for running the real receiver across days and cut hours, Qt's own texts in Portuguese,
# libmicrohttpd for the monitoring endpoint, Prometheus and Chromium to scrape it and open its
# page, and the package's checkers: man-db and groff-base render the manual pages, appstream
# validates the software-centre entries, lintian checks the package as Debian would; keepalived
# and curl for the standby pair's check (scripts/standby-pair-check.sh).
set -euo pipefail
packages=(build-essential cmake ninja-build qt6-base-dev libgtest-dev libgmock-dev
          libbenchmark-dev clang libclang-rt-14-dev iproute2 xvfb imagemagick
          desktop-file-utils file systemd libsystemd-dev faketime qt6-translations-l10n
          libmicrohttpd-dev prometheus chromium man-db groff-base appstream lintian
          keepalived curl)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
