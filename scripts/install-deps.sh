#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; apt-gets only
# what is missing, and keeps package scripts from starting services.
set -euo pipefail

packages=(
  build-essential cmake libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  libfcgi-dev
  lighttpd apache2 nginx fcgiwrap
  wrk hyperfine
  chromium
  python3 python3-aiosmtpd
  lame sox
  debhelper dpkg-dev lintian systemd spawn-fcgi
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# The browser tests need node with npm; a node that came with its own npm is
# left alone (Debian's nodejs package has npm apart).
if ! command -v npm >/dev/null; then
  missing+=(nodejs npm)
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  # Package scripts must not start web servers on the machine's ports.
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
    chmod +x /usr/sbin/policy-rc.d
    trap 'rm -f /usr/sbin/policy-rc.d' EXIT
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Browser tests drive Debian's chromium through playwright-core from the lock file.
if [ -f tests/live/package-lock.json ] && [ ! -d tests/live/node_modules/playwright-core ]; then
  (cd tests/live && npm ci --no-audit --no-fund)
fi
