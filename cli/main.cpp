// postvue-cli: lists, prints, saves and exports the messages of a store from
// the command line, through the same readers and the same save as the viewer,
// and rescues the messages of stores that the readers refuse.
#include "Commands.h"
#include "Console.h"
#include "Exceptions.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <filesystem>
#include <io.h>
#endif

namespace {

// Every command's forms, in the order --help shows them. The description
// lines follow the form in the second column.
struct TForm {
  const char* Usage;
  const char* Option;          // given right after the command, or null
  bool OptionalOption;         // the form stands with or without Option
  std::vector<const char*> Arguments;
  std::vector<const char*> Description;
};

struct TCommand;
// What was wrong, then the usage of the command it was for (or of all).
struct TUsageError {
  std::string What;
  const TCommand* Command = nullptr;
};

// A command's arguments (the form's, the option taken off) and the option
// given (null when none); the exit status.
using TArguments = std::vector<std::string>;
using TRunCommand = int (*)(const TArguments& arguments, const char* option, const TCommand& command);

// A command whole: its forms (usage and help) and what runs it, so that no
// name is dispatched apart from the table.
struct TCommand {
  const char* Name;
  std::vector<TForm> Forms;
  TRunCommand Run;
  // Takes its options and words itself (search): the forms only show them.
  bool OwnArguments = false;
};

std::int32_t ParseIndex(const std::string& text, const TCommand& command) {
  std::int32_t value = 0;
  const char* const end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value, 10);
  if (text.empty() || result.ec != std::errc() || result.ptr != end)
    throw TUsageError{"INDEX must be a number, not \"" + text + "\"", &command};
  return value;
}

using namespace postvue::cli;

const std::vector<TCommand> kCommands = {
    {"list",
     {{"list [--json] STORE",
       "--json",
       true,
       {"STORE"},
       {"list the messages of STORE, one tab-separated line", "each, as text in UTF-8 (or one JSON object with",
        "every field of every record; its strings keep the", "stored bytes, byte N as U+00NN: in Python,",
        "s.encode('latin-1') gives the bytes back)"}}},
     [](const TArguments& a, const char* json, const TCommand&) { return RunList(a[0], json != nullptr); }},
    {"text", {{"text STORE INDEX", nullptr, false, {"STORE", "INDEX"}, {"write the raw text of message INDEX"}}},
     [](const TArguments& a, const char*, const TCommand& c) { return RunText(a[0], ParseIndex(a[1], c), false); }},
    {"header", {{"header STORE INDEX", nullptr, false, {"STORE", "INDEX"}, {"write the header of message INDEX"}}},
     [](const TArguments& a, const char*, const TCommand& c) { return RunText(a[0], ParseIndex(a[1], c), true); }},
    {"save",
     {{"save STORE INDEX FILE",
       nullptr,
       false,
       {"STORE", "INDEX", "FILE"},
       {"save message INDEX as FILE, with CR LF line ends"}}},
     [](const TArguments& a, const char*, const TCommand& c) { return RunSave(a[0], ParseIndex(a[1], c), a[2]); }},
    {"show",
     {{"show STORE INDEX",
       nullptr,
       false,
       {"STORE", "INDEX"},
       {"show message INDEX as a person reads it: From, To,", "Cc, Date, Subject, its attachments' names and",
        "sizes, a blank line, then the body text, decoded", "from its encodings and character set, in UTF-8"}},
      {"show --json STORE [INDEX]",
       "--json",
       false,
       {"STORE", "[INDEX]"},
       {"the same as one JSON object (from, to, cc, date,", "subject, body, html, attachments, notes); without",
        "INDEX one object per line for every message"}}},
     [](const TArguments& a, const char* json, const TCommand& c) {
       return RunShow(a[0], a.size() > 1 ? std::optional(ParseIndex(a[1], c)) : std::nullopt, json != nullptr);
     }},
    {"attachments",
     {{"attachments STORE INDEX [DIR]",
       nullptr,
       false,
       {"STORE", "INDEX", "[DIR]"},
       {"list the attachments of message INDEX (name, type,", "size); with DIR save each there under its name",
        "(made safe), as export saves: a taken name gets a", "free variant, an identical file is left as it is"}}},
     [](const TArguments& a, const char*, const TCommand& c) {
       return RunAttachments(a[0], ParseIndex(a[1], c), a.size() > 2 ? &a[2] : nullptr);
     }},
    {"export",
     {{"export STORE DIR",
       nullptr,
       false,
       {"STORE", "DIR"},
       {"save every message into DIR as NNNN - Subject.eml;", "a name that is taken gets a free variant",
        "(NNNN - Subject (2).eml); a file that holds the", "message already is left as it is (unchanged)"}},
      {"export --mbox STORE FILE",
       "--mbox",
       false,
       {"STORE", "FILE"},
       {"write every message into FILE as one mbox file", "(mboxrd: From lines quoted with '>'; LF line ends)"}},
      {"export --attachments STORE DIR",
       "--attachments",
       false,
       {"STORE", "DIR"},
       {"save every attachment of every message into DIR,", "in a folder per message that has any, named as",
        "export names its .eml (NNNN - Subject); names and", "variants as export gives them"}}},
     [](const TArguments& a, const char* option, const TCommand&) {
       if (!option) return RunExport(a[0], a[1]);
       return std::string_view(option) == "--mbox" ? RunExportMbox(a[0], a[1]) : RunExport(a[0], a[1], TLayout::Attachments);
     }},
    {"recover",
     {{"recover STORE DIR",
       nullptr,
       false,
       {"STORE", "DIR"},
       {"write every message found in the bytes of a", "damaged STORE into DIR as .eml files, trusting",
        "neither its message count nor its index; messages", "the index does not reach (removed or orphaned) go",
        "to DIR/removed"}}},
     [](const TArguments& a, const char*, const TCommand&) { return RunRecover(a[0], a[1]); }},
    {"folders",
     {{"folders [--json] STOREDIR",
       "--json",
       true,
       {"STOREDIR"},
       {"list the folder tree of a store folder (a mail", "identity's folder of .dbx files with Folders.dbx,",
        "or of .mbx files): path, message count, store file;", "export and recover take a STOREDIR for STORE: every",
        "folder goes to a directory of DIR, nested as its", "tree (with --mbox, FILE is a directory and each",
        "folder an mbox file in it, its subfolders in", "NAME.sbd beside it, as mail programs import them)"}}},
     [](const TArguments& a, const char* json, const TCommand&) { return RunFolders(a[0], json != nullptr); }},
    {"search",
     {{"search [OPTIONS] STORE|STOREDIR WORDS...",
       nullptr,
       false,
       {"[ARGUMENTS]"},
       {"messages with every word:", "letter case and accents ignored, \"a phrase\" in",
        "quotes; in From, To, Cc, Subject, the text or", "attachment names; one line each: folder path (for",
        "a STOREDIR), index, received time, sender, subject", "OPTIONS:", "--json: one JSON object each, with the store file",
        "--in FIELDS: only in some of from,to,cc,subject,", "  body,attachments (comma-separated)",
        "--since DATE, --until DATE: received from or up to", "  that day (YYYY-MM-DD)"}}},
     [](const TArguments& a, const char*, const TCommand& c) {
       try {
         return RunSearch(a);
       } catch (const TSearchUsageError& e) {
         throw TUsageError{e.What, &c};
       }
     },
     true},
};

const char* const kNotes =
    "STORE is a .dbx or .mbx file; INDEX counts from 0 in store order. export and\n"
    "recover make DIR when it is missing (not its parent folder), replace no file\n"
    "in it, write again nothing it holds already, set each file's modification\n"
    "time to the message's received time, and end with a summary on standard error.\n"
    "Exit status: 0 done, 1 failed (the reason on standard error), 2 usage error.\n"
    "text and header write to standard output; recover exits 0 whatever damage it\n"
    "meets, 1 when the store cannot be opened or a file cannot be written.\n";

constexpr std::size_t kDescriptionColumn = 28;
constexpr int kUsageError = 2;

void AppendForm(std::string& out, const std::string& usage, const std::vector<const char*>& description) {
  std::string line = "  " + usage;
  for (const char* text : description) {
    line.resize(std::max(line.size() + 1, kDescriptionColumn), ' ');
    out += line + text + "\n";
    line.clear();
  }
}

std::string CommandHelp(const TCommand& command) {
  std::string out;
  for (const TForm& form : command.Forms) AppendForm(out, form.Usage, form.Description);
  return out;
}

std::string Help() {
  std::string out = "Usage: postvue-cli COMMAND ARGUMENTS\n\n";
  for (const TCommand& command : kCommands) out += CommandHelp(command);
  AppendForm(out, "COMMAND --help", {"show the part of this text for COMMAND"});
  AppendForm(out, "-h, --help", {"show this text"});
  return out + "\n" + kNotes;
}

std::string UsageLines(const TCommand& command) {
  std::string out;
  const char* lead = "Usage: ";
  for (const TForm& form : command.Forms) {
    out += std::string(lead) + "postvue-cli " + form.Usage + "\n";
    lead = "       ";
  }
  return out;
}

std::string UsageErrorText(const TUsageError& error) {
  const std::string what = "postvue-cli: " + error.What + "\n";
  if (!error.Command)
    return what + "Usage: postvue-cli COMMAND ARGUMENTS\nRun \"postvue-cli --help\" for the commands.\n";
  return what + UsageLines(*error.Command) + "Run \"postvue-cli " + error.Command->Name + " --help\" for more.\n";
}

int Run(const std::vector<std::string>& args) {
  if (args.empty()) throw TUsageError{"missing COMMAND"};
  const std::string& name = args[0];
  if (name == "--help" || name == "-h") {
    if (args.size() > 1) throw TUsageError{"unexpected argument after " + name + ": \"" + args[1] + "\""};
    WriteStdout(Help());
    return 0;
  }
  const auto found =
      std::find_if(kCommands.begin(), kCommands.end(), [&](const TCommand& c) { return name == c.Name; });
  if (found == kCommands.end() || !found->Run) throw TUsageError{"unknown command \"" + name + "\""};
  const TCommand& command = *found;
  std::vector<std::string> rest(args.begin() + 1, args.end());
  for (const std::string& arg : rest)
    if (arg == "--help" || arg == "-h") {
      WriteStdout(UsageLines(command) + "\n" + CommandHelp(command));
      return 0;
    }

  if (command.OwnArguments) return command.Run(rest, nullptr, command);
  // The form: the one whose option comes first, else the one that needs none.
  const TForm* form = nullptr;
  const char* option = nullptr;
  for (const TForm& f : command.Forms)
    if (f.Option && !rest.empty() && rest[0] == f.Option) form = &f, option = f.Option;
  for (const TForm& f : command.Forms)
    if (!form && (!f.Option || f.OptionalOption)) form = &f;
  if (option) rest.erase(rest.begin());
  for (const std::string& arg : rest)
    if (arg.size() > 1 && arg[0] == '-' && arg != "-" && !(arg[1] >= '0' && arg[1] <= '9'))
      throw TUsageError{"unknown option \"" + arg + "\"", &command};
  // Arguments in brackets may be left out, from the last on.
  const auto required = static_cast<std::size_t>(std::count_if(
      form->Arguments.begin(), form->Arguments.end(), [](const char* argument) { return argument[0] != '['; }));
  if (rest.size() < required) throw TUsageError{std::string("missing ") + form->Arguments[rest.size()], &command};
  if (rest.size() > form->Arguments.size())
    throw TUsageError{"unexpected argument \"" + rest[form->Arguments.size()] + "\"", &command};

  return command.Run(rest, option, command);
}

int Main(const std::vector<std::string>& args) {
  try {
    return Run(args);
  } catch (const TUsageError& error) {
    try {
      postvue::cli::WriteText(stderr, UsageErrorText(error));
    } catch (const postvue::EWriteError&) {
      // Standard error is gone: the exit status is all that is left to say it.
    }
    return kUsageError;
  } catch (const postvue::Exception& e) {
    postvue::cli::ReportException(e);
    // recover is the way on from a store that cannot be read as it is.
    if (postvue::cli::IsStoreDamage(e) && args[0] != "recover")
      postvue::cli::ReportError("to get out what can still be found in a damaged store: postvue-cli recover STORE DIR");
  } catch (const std::exception& e) {
    // Out of memory and the like: still one line, as for the system's own errors.
    postvue::cli::ReportError(postvue::ErrorBoxText(e.what()));
  }
  return 1;
}

} // namespace

#ifdef _WIN32
// Arguments arrive as UTF-16 and go on as UTF-8, the readers' path encoding;
// message texts and messages go out byte for byte, without newline
// translation, as on every other system.
int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  // Started from Explorer: the console would close before the usage could be read.
  if (argc <= 1 && postvue::cli::OwnsConsole()) {
    postvue::cli::WriteText(stdout, Help() + "\npostvue-cli runs in a Command Prompt or PowerShell window; "
                                             "postvue.exe shows\nstores in a window.\n\n"
                                             "Press any key to close this window.");
    postvue::cli::WaitForKey();
    return 0;
  }
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
