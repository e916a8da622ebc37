#include "FileStream.h"
#include "Main.h"

#include <cstdio>
#include <cstring>

namespace {
const char* const kUsage =
    "Usage: postvue [STORE]\n"
    "Shows the messages of STORE, a .dbx or .mbx mail folder, in a window; without\n"
    "STORE, File > Open... picks one.\n"
    "  -h, --help  show this text\n"
    "  --version   show the version\n"
    "postvue-cli lists, prints and exports the same messages at the command line.\n";
} // namespace

int main(int argc, char** argv) {
  // Answered without a window. A store that happens to have one of these
  // names is still opened, as any first argument that names a file is.
  if (argc > 1 && !postvue::FileExists(argv[1])) {
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
      std::fputs("postvue " POSTVUE_VERSION "\n", stdout);
      return 0;
    }
  }
  return postvue::RunApplication(argc, argv);
}
