#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the demo need.
# Idempotent and quiet: a machine that has everything is left alone.
set -euo pipefail

packages=(
  cmake make python3 curl
  g++-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64-i686
  googletest
  wine wine32:i386
  xvfb xdotool x11-utils x11-apps netpbm openbox
  fonts-wqy-microhei fonts-wine
  locales
  nginx tinyproxy
  openssl osslsigncode
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  missing=("${packages[@]}")
else
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
fi

if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  # Quiet when it works (debconf chatters on stderr); everything when it fails.
  quietly() { local out; out=$("$@" 2>&1) || { printf '%s\n' "$out" >&2; return 1; }; }
  # nginx and tinyproxy are only run by the tests, with their own configuration
  # on 127.0.0.1; the packages must not leave system daemons listening.
  guard=
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    guard=/usr/sbin/policy-rc.d
    printf '#!/bin/sh\nexit 101\n' >"$guard"; chmod +x "$guard"
    trap 'rm -f "$guard"' EXIT
  fi
  quietly apt-get update -qq
  quietly apt-get install -y -qq --no-install-recommends "${missing[@]}"
  [ -z "$guard" ] || rm -f "$guard"
fi

# The users' Windows runs with the Chinese ANSI code page; a prefix booted under
# zh_CN.UTF-8 gets code page 936, so the log and ANSI INI files keep Chinese text.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN.utf8$'; then
  sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
