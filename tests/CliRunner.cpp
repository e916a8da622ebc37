#include "CliRunner.h"

#include "FilePaths.h"
#include "WinApi.h"

#include <cstdlib>
#include <filesystem>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace postvue::testing {

#ifdef _WIN32
namespace {
// One argument as the C runtime's command-line parser reads it back:
// backslashes double only where a quote follows them.
std::wstring QuoteArgument(const std::wstring& arg) {
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}
} // namespace

// Started directly, not through a shell, so any argument arrives as it was given.
TCliRun RunProgram(const TTempDir& dir, const std::string& program, const std::vector<std::string>& args) {
  std::wstring command = QuoteArgument(PathFromUtf8(program).wstring());
  for (const auto& arg : args) command += L" " + QuoteArgument(PathFromUtf8(arg).wstring());
  const std::string in = dir / "stdin", out = dir / "stdout", err = dir / "stderr";
  WriteFileBytes(in, "");
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  auto open = [&](const std::string& path, DWORD access, DWORD disposition) {
    return CreateFileW(PathFromUtf8(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = open(in, GENERIC_READ, OPEN_EXISTING);
  startup.hStdOutput = open(out, GENERIC_WRITE, CREATE_ALWAYS);
  startup.hStdError = open(err, GENERIC_WRITE, CREATE_ALWAYS);
  PROCESS_INFORMATION process{};
  TCliRun run;
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    if (GetExitCodeProcess(process.hProcess, &status)) run.Status = static_cast<int>(status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  for (const HANDLE h : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  run.Out = ReadFileBytes(out);
  run.Err = ReadFileBytes(err);
  for (const auto& path : {in, out, err}) std::filesystem::remove(PathFromUtf8(path));
  return run;
}
#else
namespace {
std::string ShellQuote(const std::string& arg) {
  std::string quoted = "'";
  for (const char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}
} // namespace

TCliRun RunProgram(const TTempDir& dir, const std::string& program, const std::vector<std::string>& args) {
  std::string command = ShellQuote(program);
  for (const auto& arg : args) command += " " + ShellQuote(arg);
  const std::string in = dir / "stdin", out = dir / "stdout", err = dir / "stderr";
  WriteFileBytes(in, "");
  command += " <" + ShellQuote(in) + " >" + ShellQuote(out) + " 2>" + ShellQuote(err);
  const int status = std::system(command.c_str());
  TCliRun run;
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.Out = ReadFileBytes(out);
  run.Err = ReadFileBytes(err);
  for (const auto& path : {in, out, err}) std::filesystem::remove(path);
  return run;
}
#endif

} // namespace postvue::testing
