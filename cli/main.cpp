// postvue-cli: lists, prints, saves and exports the messages of a store from
// the command line, through the same readers and the same save as the viewer,
// and rescues the messages of stores that the readers refuse.
#include "Commands.h"
#include "Exceptions.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <filesystem>
#include <io.h>
#endif

namespace {

const char* const kUsage =
    "Usage: postvue-cli COMMAND ARGUMENTS\n"
    "\n"
    "  list [--json] STORE       list the messages of STORE, one tab-separated line each\n"
    "                            (or one JSON object with every field of every record)\n"
    "  text STORE INDEX          write the raw text of message INDEX to standard output\n"
    "  header STORE INDEX        write the header of message INDEX to standard output\n"
    "  save STORE INDEX FILE     save message INDEX as FILE, with CR LF line ends\n"
    "  export STORE DIR          save every message into DIR as NNNN - Subject.eml\n"
    "  export --mbox STORE FILE  write every message into FILE as one mbox file\n"
    "                            (mboxrd: From lines quoted with '>'; LF line ends)\n"
    "  recover STORE DIR         write every message found in the bytes of a damaged\n"
    "                            STORE into DIR as .eml files, trusting neither its\n"
    "                            message count nor its index; messages the index does\n"
    "                            not reach (removed or orphaned) go to DIR/removed\n"
    "  folders [--json] STOREDIR list the folder tree of a store folder (a mail\n"
    "                            identity's folder of .dbx files with Folders.dbx, or\n"
    "                            of .mbx files): path, message count, store file\n"
    "  -h, --help                show this text\n"
    "\n"
    "STORE is a .dbx or .mbx file; INDEX counts from 0 in store order. export and\n"
    "recover set each file's modification time to the message's received time.\n"
    "Exit status: 0 done, 1 failed (the reason on standard error), 2 usage error.\n"
    "recover reports what it found on standard error and exits 0 whatever damage it\n"
    "meets; 1 when the store cannot be opened or a file cannot be written.\n";

constexpr int kUsageError = 2;

struct TUsageError {};

std::int32_t ParseIndex(const std::string& text) {
  std::int32_t value = 0;
  const char* const end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value, 10);
  if (text.empty() || result.ec != std::errc() || result.ptr != end) throw TUsageError();
  return value;
}

int Run(const std::vector<std::string>& args) {
  using namespace postvue::cli;
  if (args.empty()) throw TUsageError();
  const std::string& command = args[0];
  const std::size_t count = args.size() - 1;
  if ((command == "--help" || command == "-h") && count == 0) {
    WriteStdout(kUsage);
    return 0;
  }
  if (command == "list" && count == 1 && args[1] != "--json") return RunList(args[1], false);
  if (command == "list" && count == 2 && args[1] == "--json") return RunList(args[2], true);
  if (command == "folders" && count == 1 && args[1] != "--json") return RunFolders(args[1], false);
  if (command == "folders" && count == 2 && args[1] == "--json") return RunFolders(args[2], true);
  if (command == "text" && count == 2) return RunText(args[1], ParseIndex(args[2]), false);
  if (command == "header" && count == 2) return RunText(args[1], ParseIndex(args[2]), true);
  if (command == "save" && count == 3) return RunSave(args[1], ParseIndex(args[2]), args[3]);
  if (command == "export" && count == 2 && args[1] != "--mbox") return RunExport(args[1], args[2]);
  if (command == "export" && count == 3 && args[1] == "--mbox") return RunExportMbox(args[2], args[3]);
  if (command == "recover" && count == 2) return RunRecover(args[1], args[2]);
  throw TUsageError();
}

int Main(const std::vector<std::string>& args) {
  try {
    return Run(args);
  } catch (const TUsageError&) {
    std::fputs(kUsage, stderr);
    return kUsageError;
  } catch (const postvue::Exception& e) {
    postvue::cli::ReportError(postvue::ErrorBoxText(e.message()));
  } catch (const std::exception& e) {
    // Out of memory and the like: still one line, as for the system's own errors.
    postvue::cli::ReportError(postvue::ErrorBoxText(e.what()));
  }
  return 1;
}

} // namespace

#ifdef _WIN32
// Arguments arrive as UTF-16 and go on as UTF-8, the readers' path encoding;
// message texts go out byte for byte, without newline translation.
int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::u8string utf8 = std::filesystem::path(argv[i]).u8string();
    args.emplace_back(utf8.begin(), utf8.end());
  }
  return Main(args);
}
#else
int main(int argc, char** argv) { return Main(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc)); }
#endif
