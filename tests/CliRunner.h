// Runs postvue-cli as a process, the way a script would, for the tests.
#pragma once

#include "StoreWriter.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#endif

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

inline std::string ShellQuote(const std::string& arg) {
#ifdef _WIN32
  return "\"" + arg + "\"";
#else
  std::string quoted = "'";
  for (const char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
#endif
}

// postvue-cli with args, standard input empty, standard output and error
// captured in files of dir (removed again).
inline TCliRun RunCli(const TTempDir& dir, const std::vector<std::string>& args) {
  std::string command = ShellQuote(POSTVUE_CLI_PATH);
  for (const auto& arg : args) command += " " + ShellQuote(arg);
  const std::string in = dir / "stdin", out = dir / "stdout", err = dir / "stderr";
  WriteFileBytes(in, "");
  command += " <" + ShellQuote(in) + " >" + ShellQuote(out) + " 2>" + ShellQuote(err);
#ifdef _WIN32
  command = "\"" + command + "\"";
#endif
  const int status = std::system(command.c_str());
  TCliRun run;
#ifdef _WIN32
  run.Status = status;
#else
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  run.Out = ReadFileBytes(out);
  run.Err = ReadFileBytes(err);
  for (const auto& path : {in, out, err}) std::filesystem::remove(path);
  return run;
}

} // namespace postvue::testing
