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
# user-mode emulation. qemu before version 10 is not enough: Debian 12's 7.2 keeps one table of
# thread-local segments for all of a process's threads, so a 32-bit Wine thread that takes a
# signal picks up the newest thread's TEB; the program then hung at its first start or died.
# Where the release's own suite has an older qemu, its backports suite has version 10.
source "$(dirname "$0")/wine_env.sh"
if { [ -n "${RMT_FORCE_EMULATION:-}" ] || ! native_32bit_code; } && ! qemu_i386 >/dev/null; then
  need_root
  export DEBIAN_FRONTEND=noninteractive
  echo "setup: 32-bit code is emulated here: installing qemu-user (version 10 or later)" >&2
  apt-get install -y -qq --no-install-recommends qemu-user >/dev/null 2>&1 || true
  if ! qemu_i386 >/dev/null; then
    suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$suite" ] || { echo "setup: no qemu 10 and /etc/os-release names no suite" >&2; exit 1; }
    echo "setup: the release suite's qemu is older than 10: taking it from $suite-backports" >&2
    cat >/etc/apt/sources.list.d/rmt-backports.sources <<SOURCES
Types: deb
URIs: http://deb.debian.org/debian
Suites: $suite-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    apt-get update -qq || true
    apt-get install -y -qq --no-install-recommends -t "$suite-backports" qemu-user >/dev/null
    qemu_i386 >/dev/null || { echo "setup: no qemu-i386 of version 10 or later" >&2; exit 1; }
  fi
fi

echo "setup: ready"
