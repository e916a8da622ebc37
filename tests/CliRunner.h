// Runs postvue-cli (or another of the project's programs) as a process, the
// way a script would, for the tests.
#pragma once

#include "StoreWriter.h"

#include <string>
#include <system_error>
#include <vector>

namespace postvue::testing {

struct TCliRun {
  int Status = -1;
  std::string Out, Err;
};

// The second line of an error that a damaged store causes.
inline const std::string kRecoverHint =
    "postvue-cli: to get out what can still be found in a damaged store: postvue-cli recover STORE DIR\n";

// The line that gives the system's reason for a failed file operation.
inline std::string ReasonLine(std::errc error) {
  return "postvue-cli: " + std::make_error_code(error).message() + "\n";
}

// program with args (UTF-8), started directly (no shell reads the
// arguments), standard input empty, standard output and error captured in
// files of dir (removed again).
TCliRun RunProgram(const TTempDir& dir, const std::string& program, const std::vector<std::string>& args);

#ifdef POSTVUE_CLI_PATH
// postvue-cli with args.
inline TCliRun RunCli(const TTempDir& dir, const std::vector<std::string>& args) {
  return RunProgram(dir, POSTVUE_CLI_PATH, args);
}
#endif

} // namespace postvue::testing
