#!/usr/bin/env bash
# Installs what building and testing need on a Debian machine. Safe to run again: each step
# checks first and skips what is already there.
set -euo pipefail

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: run as root (or install the packages listed in scripts/setup.sh by hand)" >&2
    exit 1
  fi
}

packages=(
  cmake g++ make ccache libgtest-dev libgmock-dev googletest clang libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64
  xvfb xdotool imagemagick x11-utils locales fonts-wqy-microhei file python3
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  need_root
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  # A mirror caught mid-sync fails one index now and then: try again, and let the install
  # decide whether the lists that did arrive are enough.
  for try in 1 2 3; do
    apt-get update -qq && break
    echo "setup: apt-get update failed (try $try)" >&2
    [ "$try" = 3 ] || sleep 10
  done
  install() { apt-get install -y -qq --no-install-recommends "$@" "${missing[@]}" >/dev/null; }
  if ! install; then
    # The security suite's i386 index can arrive cut short while its mirror syncs; the amd64
    # libraries then come from the security suite and their i386 twins only from the release,
    # and Multi-Arch: same packages need one version of both. Preferring the release's own suite
    # resolves the set (the security updates follow once the mirror has caught up).
    suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$suite" ] || { echo "setup: the install failed and /etc/os-release names no suite" >&2; exit 1; }
    echo "setup: the install failed; trying again with the release suite '$suite' preferred" >&2
    install -t "$suite"
  fi
fi

# Wine reads the Windows code page from the Unix locale: zh_CN.UTF-8 gives code page 936.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  need_root
  sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >>/etc/locale.gen
  locale-gen >/dev/null
fi

# Where this machine runs no 32-bit code, the test command runs the 32-bit release program under
# user-mode emulation.
source "$(dirname "$0")/wine_env.sh"
if ! native_32bit_code &&
  ! dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q 'install ok installed'; then
  need_root
  echo "setup: this machine runs no 32-bit code: installing qemu-user-static to emulate it" >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends qemu-user-static \
    >/dev/null
fi

echo "setup: ready"
