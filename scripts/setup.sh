#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running Tarvelo need.
# Only packages that are missing are installed, so a prepared machine starts at once.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  clang libclang-rt-14-dev
  libboost-dev libboost-thread-dev libboost-system-dev libboost-date-time-dev libboost-chrono-dev
  qt6-base-dev libx11-dev libfontconfig-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  iproute2 libcap2-bin
  fonts-dejavu-core fonts-liberation fonts-wqy-zenhei fonts-noto-cjk fontconfig
  xvfb xdotool xclip
  # Opening devices on a real desktop, and the desktop end-to-end test: the session bus, GVFS with
  # its SMB backend, the launcher, a window manager, two file managers and a Samba server.
  libglib2.0-dev libglib2.0-bin dbus dbus-x11 xdg-utils gvfs gvfs-daemons gvfs-backends
  openbox pcmanfm thunar samba smbclient cifs-utils
  # Native Wayland sessions, and the end-to-end test on a headless compositor.
  qt6-wayland weston
  # The package and the desktop files: building and checking the .deb, the validators of the
  # desktop entry, the AppStream metainfo and the man page, and the shells the completions are for.
  dpkg-dev fakeroot lintian file desktop-file-utils appstream libxml2-utils man-db groff-base
  bash-completion zsh
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
