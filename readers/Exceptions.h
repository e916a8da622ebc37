// The one exception hierarchy of the reader library. Every error carries one
// fixed English message; the viewer and the command line show it as it is.
#pragma once

#include <exception>
#include <string>
#include <system_error>
#include <utility>

namespace postvue {

// The operating system's text for an error, as a reason: errno values are in
// std::generic_category, GetLastError values in std::system_category.
std::string ReasonText(const std::error_code& code);
inline std::string ErrnoText(int error) { return ReasonText(std::error_code(error, std::generic_category())); }

class Exception : public std::exception {
public:
  explicit Exception(std::string message, std::string reason = {})
      : Message(std::move(message)), Reason(std::move(reason)) {}
  // A failure of a system call: code's text is the reason.
  Exception(std::string message, std::error_code code)
      : Message(std::move(message)), Reason(ReasonText(code)), Code(code) {}
  const char* what() const noexcept override { return Message.c_str(); }
  const std::string& message() const noexcept { return Message; }
  // What the operating system said when one of its calls failed, empty
  // otherwise. Never part of the message: the viewer shows the message alone,
  // the command line adds this as a line of its own.
  const std::string& reason() const noexcept { return Reason; }
  // The system's error behind reason, where it was kept: callers decide by it
  // what the failure means for what they do next.
  const std::error_code& code() const noexcept { return Code; }

private:
  std::string Message;
  std::string Reason;
  std::error_code Code;
};

// File and stream layer. The messages pass through readers and application unchanged.
class EFOpenError : public Exception {
public:
  explicit EFOpenError(const std::string& fileName, std::string reason = {})
      : Exception("Cannot open file " + fileName, std::move(reason)) {}
};

class EFCreateError : public Exception {
public:
  explicit EFCreateError(const std::string& fileName, std::string reason = {})
      : Exception("Cannot create file " + fileName, std::move(reason)) {}
  EFCreateError(const std::string& fileName, std::error_code code)
      : Exception("Cannot create file " + fileName, code) {}
};

class EReadError : public Exception {
public:
  EReadError() : Exception("Stream read error") {}
};

class EWriteError : public Exception {
public:
  EWriteError() : Exception("Stream write error") {}
  explicit EWriteError(std::error_code code) : Exception("Stream write error", code) {}
};

// An abstract operation called on a bare base reader (the format probe).
class EAbstractError : public Exception {
public:
  EAbstractError() : Exception("Abstract Error") {}
};

// A table asked to take a size it cannot have (a negative message count).
class ERangeError : public Exception {
public:
  ERangeError() : Exception("Range check error") {}
};

// The three reader classes are siblings: a handler for one never catches another.
class EMailbaseReaderException : public Exception {
public:
  using Exception::Exception;
};

class EDBXReaderException : public Exception {
public:
  using Exception::Exception;
};

class EMBXReaderException : public Exception {
public:
  using Exception::Exception;
};

// The error box rule, shared by the viewer and the command line: a full stop is
// appended when the code of the message's last character is above that of '.'.
std::string ErrorBoxText(const std::string& message);

} // namespace postvue
