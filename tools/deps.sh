# Sourced by run.sh and test.sh: installs the Debian/Ubuntu packages that are missing.
postvue_install_deps() {
  local missing=()
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}

POSTVUE_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libgtest-dev qt6-base-dev)
# The Windows build: the mingw-w64 cross compiler, GoogleTest's sources to
# build for it, Wine to run its tests, a virtual display for its windows and
# NSIS for the setup program.
# The front-door check: ./run.sh on a virtual display, its window looked for.
POSTVUE_FRONT_DOOR_PACKAGES=(xvfb xdotool)
POSTVUE_WINDOWS_PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix googletest wine64 wine xvfb nsis)
