#!/usr/bin/env bash
# The Windows setup program under Wine, as a user and an administrator meet
# it. For the current user (/CurrentUser) and then for all users (Wine's user
# is an administrator): installs an older version silently and this one over
# it; checks the files, the Start menu shortcut, the file types and the entry
# in the installed apps list; for all users, opens a .dbx and a .mbx through
# the file types (wine start) and waits for the viewer's window; uninstalls,
# once while the viewer is open (it must stop, nothing removed) and then for
# good, and checks that no file, shortcut or key of Postvue's is left. A .mbx that
# another program claims keeps its program, before and after.
# (Wine 8 does not merge the user's file types into HKEY_CLASSES_ROOT, so
# wine start can only find the all-users ones.)
# Runs in the Wine prefix and on the display it is given (WINEPREFIX,
# DISPLAY), as test.sh's Windows stage sets them; needs makensis and xdotool.
# Writes its outcome as one JUnit test case to JUNIT_FILE.
#   tools/windows-setup-test.sh BUILD_DIR STORE_MAKER [JUNIT_FILE]
# BUILD_DIR: the Windows build tools/build-windows.sh packed from; STORE_MAKER:
# bench/GenerateStore of a Linux build.
set -uo pipefail
cd "$(dirname "$0")/.."
. tools/junit.sh
build="$1"
make_store="$2"
junit="${3:-}"
: "${WINEPREFIX:?}" "${DISPLAY:?}"
version=$(sed -n 's/^project(Postvue VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name="postvue-$version-windows-x64"
setup="dist/$name-setup.exe"
problems=()
problem() { problems+=("$*"); echo "windows setup: $*" >&2; }

work=$(mktemp -d)
trap 'wine taskkill /im postvue.exe >/dev/null 2>&1; rm -rf "$work"' EXIT
older="$work/postvue-0.0.1-setup.exe"
makensis -V1 -DVERSION=0.0.1 -DSTAGE="$PWD/$build/dist/$name" -DOUTFILE="$older" tools/postvue-setup.nsi ||
  problem "makensis could not build an older setup to upgrade from"
# A store folder with a space in its name: the file type's command must quote it.
stores="$work/Old mail"
mkdir -p "$stores"
"$make_store" --dbx "$stores/Inbox.dbx" --messages 20 --folder Inbox >/dev/null || problem "$make_store failed"
cp examples/Sample.mbx examples/Sample.idx "$stores/"

# The data of a registry value ("" when empty), or status 1 when it is not there.
value() { # KEY [NAME]
  local out
  if [ $# -eq 1 ]; then out=$(wine reg query "$1" /ve 2>/dev/null) || return 1
  else out=$(wine reg query "$1" /v "$2" 2>/dev/null) || return 1; fi
  out=$(printf '%s\n' "$out" | tr -d '\r' | grep -m1 ' REG_') || return 1
  printf '%s' "${out#* REG_*    }"
}
expect_value() { # WHAT EXPECTED KEY [NAME]
  local what="$1" expected="$2" got
  shift 2
  got=$(value "$@") || { problem "$what: no value $*"; return; }
  [ "$got" = "$expected" ] || problem "$what: $* is \"$got\", expected \"$expected\""
}
unix_path() { winepath -u "$1" 2>/dev/null | tr -d '\r'; }
windows_env() { wine cmd /c echo "%$1%" 2>/dev/null | tr -d '\r'; }

# Waits up to 30 s for a window with this caption, then closes the viewer
# (unless told to keep it).
expect_window() { # CAPTION WHAT [keep]
  local window=""
  for _ in $(seq 150); do
    window=$(xdotool search --onlyvisible --name "^${1//[/\\[}\$" 2>/dev/null | head -n 1)
    [ -n "$window" ] && break
    sleep 0.2
  done
  [ -n "$window" ] || problem "$2 showed no window \"$1\""
  [ "${3:-}" = keep ] || close_viewer
}
close_viewer() {
  wine taskkill /im postvue.exe >/dev/null 2>&1
  for _ in $(seq 50); do pgrep -f 'postvue\.exe' >/dev/null || break; sleep 0.2; done
}

check_mode() { # MODE_OPTION ROOT EXPECTED_DIR START_MENU
  local option="$1" root="$2" dir="$3" menu="$4"
  local uninstall="$root\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
  local classes="$root\\Software\\Classes"
  local label="setup $option"
  wine "$older" /S "$option" || problem "$label: the older setup failed"
  expect_value "$label (older)" 0.0.1 "$uninstall\\Postvue" DisplayVersion
  wine "$setup" /S "$option" || problem "$label: the setup failed"

  local unix_dir
  unix_dir=$(unix_path "$dir")
  local files
  files=$(cd "$unix_dir" 2>/dev/null && ls | tr '\n' ' ')
  [ "$files" = "README-windows.txt postvue-cli.exe postvue.exe uninstall.exe " ] ||
    problem "$label: $dir holds \"$files\""
  cmp -s "$unix_dir/postvue.exe" "$build/dist/$name/postvue.exe" || problem "$label: postvue.exe is not this version's"
  local shortcuts
  shortcuts=$(find "$(unix_path "$menu")" -iname '*postvue*' | wc -l)
  [ -f "$(unix_path "$menu\\Postvue.lnk")" ] && [ "$shortcuts" -eq 1 ] ||
    problem "$label: expected one shortcut $menu\\Postvue.lnk, found $shortcuts"
  [ "$(wine reg query "$uninstall" 2>/dev/null | tr -d '\r' | grep -ci postvue)" -eq 1 ] ||
    problem "$label: not one Postvue in the installed apps"
  expect_value "$label" Postvue "$uninstall\\Postvue" DisplayName
  expect_value "$label" "$version" "$uninstall\\Postvue" DisplayVersion
  expect_value "$label" "The Postvue developers" "$uninstall\\Postvue" Publisher
  expect_value "$label" "\"$dir\\uninstall.exe\"" "$uninstall\\Postvue" UninstallString
  local size
  size=$(value "$uninstall\\Postvue" EstimatedSize)
  [ $((size)) -gt 1000 ] || problem "$label: EstimatedSize is \"$size\" KB"
  expect_value "$label" Postvue.dbx "$classes\\.dbx"
  expect_value "$label" "\"$dir\\postvue.exe\" \"%1\"" "$classes\\Postvue.dbx\\shell\\open\\command"
  expect_value "$label" "Open with Postvue" "$classes\\Postvue.mbx\\shell\\open"
  expect_value "$label" "$dir\\postvue.exe,0" "$classes\\Postvue.mbx\\DefaultIcon"
  expect_value "$label" "" "$classes\\.mbx\\OpenWithProgids" Postvue.mbx

  if [ "$option" = /CurrentUser ]; then
    # A running viewer keeps its program file: a silent uninstall stops
    # with nothing removed (run in place, to have its exit code).
    wine "$dir\\postvue.exe" >/dev/null 2>&1 &
    expect_window "Postvue" "$label: the installed postvue.exe" keep
    if wine "$dir\\uninstall.exe" /S "_?=$dir"; then
      problem "$label: the uninstaller ran while the viewer was open"
    fi
    [ -f "$unix_dir/uninstall.exe" ] && value "$uninstall\\Postvue" DisplayName >/dev/null ||
      problem "$label: an uninstall stopped by the open viewer removed part of Postvue"
    close_viewer
  fi
  if [ "$option" = /AllUsers ]; then
    wine start /unix "$stores/Inbox.dbx" >/dev/null 2>&1 &
    expect_window "Postvue - [Inbox]" "$label: wine start on Inbox.dbx"
    wine start /unix "$stores/Sample.mbx" >/dev/null 2>&1 &
    expect_window "Postvue - [Sample]" "$label: wine start on Sample.mbx"
  fi

  # As the installed apps list runs it: uninstall.exe copies itself away and
  # returns at once, so wait for the copy's work.
  wine "$dir\\uninstall.exe" /S
  for _ in $(seq 150); do value "$uninstall\\Postvue" DisplayName >/dev/null || break; sleep 0.2; done
  for _ in $(seq 50); do [ -e "$unix_dir" ] || break; sleep 0.2; done
  [ ! -e "$unix_dir" ] || problem "$label: the uninstaller left $dir: $(ls "$unix_dir" | tr '\n' ' ')"
  [ "$(find "$(unix_path "$menu")" -iname '*postvue*' | wc -l)" -eq 0 ] || problem "$label: the uninstaller left a shortcut"
  local left
  for key in "$classes" "$uninstall"; do
    left=$(wine reg query "$key" /s 2>/dev/null | tr -d '\r' | grep -i postvue)
    [ -z "$left" ] || problem "$label: the uninstaller left in $key: $left"
  done
}

if [ ${#problems[@]} -eq 0 ]; then
  [ -f "$setup" ] || problem "no $setup: run tools/build-windows.sh $build first"
  # A .mbx claimed by another program for this user: it keeps it, and its key.
  wine reg add 'HKCU\Software\Classes\.mbx' /ve /d Other.mbx /f >/dev/null
  check_mode /CurrentUser HKCU "$(windows_env LOCALAPPDATA)\\Programs\\Postvue" \
    "$(windows_env APPDATA)\\Microsoft\\Windows\\Start Menu\\Programs"
  expect_value "the other program's .mbx" Other.mbx 'HKCU\Software\Classes\.mbx'
  wine reg delete 'HKCU\Software\Classes\.mbx' /f >/dev/null 2>&1
  check_mode /AllUsers HKLM "$(windows_env ProgramW6432)\\Postvue" \
    "$(windows_env ProgramData)\\Microsoft\\Windows\\Start Menu\\Programs"
fi

if [ ${#problems[@]} -eq 0 ]; then
  echo "windows setup: installed, upgraded, opened stores through the file types and uninstalled cleanly, for one user and for all"
fi
postvue_junit "$junit" windows-setup WindowsSetup "$(( ${#problems[@]} > 0 ))" "${problems[0]:-}"
[ ${#problems[@]} -eq 0 ]
