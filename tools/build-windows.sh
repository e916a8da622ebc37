#!/usr/bin/env bash
# Builds the Windows programs (64-bit, mingw-w64, linked statically): the
# viewer postvue.exe and postvue-cli.exe, and packs them with a short guide
# into dist/postvue-VERSION-windows-x64.zip (the portable copy) and the setup
# program dist/postvue-VERSION-windows-x64-setup.exe (tools/postvue-setup.nsi).
#   tools/build-windows.sh [BUILD_DIR]     (default: build-windows)
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
postvue_install_deps "${POSTVUE_WINDOWS_PACKAGES[@]}"

build="${1:-build-windows}"
version=$(sed -n 's/^project(Postvue VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
# The toolchain is given only to a new build folder: one already made keeps its own.
toolchain=()
[ -f "$build/CMakeCache.txt" ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake)
cmake -S . -B "$build" -G Ninja "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release -DPOSTVUE_BUILD_APP=ON \
  -DPOSTVUE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target postvue postvue-cli

name="postvue-$version-windows-x64"
stage="$build/dist/$name"
rm -rf "$stage"
mkdir -p "$stage" dist
# Nothing to ship beside the programs: they may import only the system's own DLLs.
system_dlls='^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|advapi32|ole32|msvcrt|ucrtbase|api-ms-win-.*|ntdll|ws2_32|bcrypt)\.dll$'
for program in app/win32/postvue.exe cli/postvue-cli.exe; do
  if x86_64-w64-mingw32-objdump -p "$build/$program" | sed -n 's/^\s*DLL Name: //p' | grep -viE "$system_dlls"; then
    echo "$program needs the DLLs above beside it; it must be linked statically" >&2
    exit 1
  fi
  x86_64-w64-mingw32-strip -o "$stage/$(basename "$program")" "$build/$program"
done
sed 's/$/\r/' >"$stage/README-windows.txt" <<TEXT
Postvue $version for Windows (64-bit)

Postvue reads Outlook Express folder databases: .dbx files (Outlook Express 5
and 6) and .mbx files with their .idx index (Outlook Express 4). It only reads
them, never changes them.

Installing

postvue-$version-windows-x64-setup.exe installs Postvue for you, with no
administrator rights needed, or for all users of the computer when you start
it with "Run as administrator". It adds Postvue to the Start menu, makes .dbx
and .mbx files open in Postvue with a double click (where another program
already opens them, it keeps them: right-click a store, Open with > Postvue),
and puts postvue-cli.exe beside the viewer. Remove Postvue under Settings >
Apps (or Control Panel > Programs and Features). For administrators: /S
installs silently, /AllUsers or /CurrentUser chooses for whom, /D=C:\folder
(last, without quotes) where; the uninstaller takes /S too.

The portable copy, postvue-$version-windows-x64.zip, needs no installing:
unpack it anywhere, for example beside your stores, and start postvue.exe.

The programs are not signed. The first time you start the setup or one of the
programs, Windows may say "Windows protected your PC" or that the publisher is
unknown: choose "More info", then "Run anyway" (or "Yes"). If a program from
the zip will not start at all, right-click it, choose Properties, tick
"Unblock" and press OK.

Using it

postvue.exe is the viewer. Start it and choose File > Open (Ctrl+O), drop a
store on its icon or onto its window, or, once installed, double-click the
store: every message is listed (unread ones in bold). Press Enter (or File >
Read message, Ctrl+R) to read a message as a mail program shows it, with its
pictures and attachments; Previous and Next (Ctrl+< and Ctrl+>) go through the
folder, and its attachments can be saved. A double click on a message shows
its raw text; File > Save (Ctrl+S) saves the selected message as an .eml file,
which any mail program opens.

postvue-cli.exe does the same for whole stores from a Command Prompt or
PowerShell window opened in its folder (when installed:
%LOCALAPPDATA%\\Programs\\Postvue for you, C:\\Program Files\\Postvue for all):

  postvue-cli list "C:\\Mail\\Inbox.dbx"
  postvue-cli export "C:\\Mail\\Inbox.dbx" "C:\\Mail\\Inbox export"
  postvue-cli save "C:\\Mail\\Inbox.dbx" 12 message.eml
  postvue-cli recover "C:\\Mail\\Damaged.dbx" rescued
  postvue-cli --help

Paths may hold any characters, drive letters and backslashes. export writes
every message as "NNNN - Subject.eml"; recover gets messages out of a damaged
store. The store may stay open in the mail program meanwhile.

Where the stores are

Outlook Express 5 and 6 keep one store folder per identity, under the user's
profile:

  Windows 2000 and XP:
  C:\\Documents and Settings\\<user>\\Local Settings\\Application Data\\Identities\\{<identity GUID>}\\Microsoft\\Outlook Express
  Windows Vista and later:
  C:\\Users\\<user>\\AppData\\Local\\Identities\\{<identity GUID>}\\Microsoft\\Outlook Express

(Windows Mail, on Vista, does not use .dbx files.) Outlook Express 4 kept its
.mbx and .idx files in a Mail folder under its program folder or the user's
profile; the place varied, so search the disk for *.mbx. These folders are
hidden: type the path into Explorer's address bar, or show hidden files. On
an old disk attached to another computer, the same path lies under that
disk's drive letter.

To save all the mail of an identity from an old disk attached as D:, every
folder as a folder of .eml files (one command line, in a Command Prompt):

  postvue-cli export "D:\\Documents and Settings\\Ann\\Local Settings\\Application Data\\Identities\\{...}\\Microsoft\\Outlook Express" "%USERPROFILE%\\Desktop\\Old mail"

or every folder as an mbox file, which other mail programs import:

  postvue-cli export --mbox "D:\\Documents and Settings\\Ann\\Local Settings\\Application Data\\Identities\\{...}\\Microsoft\\Outlook Express" "%USERPROFILE%\\Desktop\\Old mail (mbox)"

postvue-cli folders "<store folder>" lists the folders first.
TEXT
(cd "$build/dist" && rm -f "$name.zip" && cmake -E tar cf "$name.zip" --format=zip "$name")
mv "$build/dist/$name.zip" dist/
makensis -V2 -DVERSION="$version" -DSTAGE="$PWD/$stage" -DOUTFILE="$PWD/dist/$name-setup.exe" tools/postvue-setup.nsi
echo "dist/$name.zip"
echo "dist/$name-setup.exe"
