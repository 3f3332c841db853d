#!/usr/bin/env bash
# Installs the Debian 12 packages Lumory needs. Quick when everything is already there.
#   scripts/install-deps.sh run       build and run the product
#   scripts/install-deps.sh package   build the Debian package
#   scripts/install-deps.sh test      build and run every test and benchmark
set -euo pipefail

profile=${1:-run}

build_packages=(
  cmake ninja-build g++ pkg-config
  libgtk-3-dev libwebkit2gtk-4.1-dev libayatana-appindicator3-dev libsoup-3.0-dev
  libecal2.0-dev libpulse-dev nlohmann-json3-dev libcanberra-gtk3-dev libenchant-2-dev
  nodejs
)
# What a desktop session provides: the calendar database, a sound server and its event sounds,
# a session bus. glib-networking gives libsoup its TLS for the update feed; hunspell-en-us is the
# spell checker's English dictionary (and the spelling test's).
run_packages=(evolution-data-server pulseaudio dbus dbus-x11 glib-networking libcanberra-pulse
  sound-theme-freedesktop hunspell-en-us)
# CPack's Debian generator reads library dependencies with dpkg-shlibdeps, which needs file.
package_packages=(dpkg-dev file)
test_packages=(
  libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  xvfb xauth x11-utils imagemagick jwm libxtst-dev weston
  pulseaudio-utils sox
  libglib2.0-bin
  # A CalDAV server for the calendar helper's synced-calendar test.
  radicale
  # The Debian package, checked.
  lintian desktop-file-utils appstream
  # The accessibility bus and its Python client, for the screen-reader test.
  at-spi2-core python3-pyatspi
)

# The real desktops the end-to-end tests run the shell on: GNOME Shell (with its settings
# daemon, Xwayland and the gjs notification service) and sway. Without their recommends, which
# would bring a whole desktop session.
desktop_test_packages=(gnome-shell gnome-settings-daemon dconf-service xwayland gjs sway)

case "$profile" in
  run) wanted=("${build_packages[@]}" "${run_packages[@]}"); bare=() ;;
  package) wanted=("${build_packages[@]}" "${package_packages[@]}"); bare=() ;;
  test)
    wanted=("${build_packages[@]}" "${run_packages[@]}" "${package_packages[@]}"
            "${test_packages[@]}")
    bare=("${desktop_test_packages[@]}")
    ;;
  *) echo "usage: $0 run|package|test" >&2; exit 2 ;;
esac

missing_of() {
  local package status
  for package in "$@"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || echo "$package"
  done
}
mapfile -t missing < <(missing_of "${wanted[@]}")
mapfile -t missing_bare < <(missing_of "${bare[@]}")
[[ ${#missing[@]} -eq 0 && ${#missing_bare[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
echo "Installing: ${missing[*]} ${missing_bare[*]}"
"${sudo[@]}" apt-get update -qq
# With recommends: Xvfb's fonts and the sound and calendar services' own helpers come that way.
if ((${#missing[@]} > 0)); then
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi
if ((${#missing_bare[@]} > 0)); then
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing_bare[@]}" >/dev/null
fi
