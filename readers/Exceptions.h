// The one exception hierarchy of the reader library. Every error carries one
// fixed English message; the viewer and the command line show it as it is.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace postvue {

class Exception : public std::exception {
public:
  explicit Exception(std::string message) : Message(std::move(message)) {}
  const char* what() const noexcept override { return Message.c_str(); }
  const std::string& message() const noexcept { return Message; }

private:
  std::string Message;
};

// File and stream layer. The messages pass through readers and application unchanged.
class EFOpenError : public Exception {
public:
  explicit EFOpenError(const std::string& fileName) : Exception("Cannot open file " + fileName) {}
};

class EFCreateError : public Exception {
public:
  explicit EFCreateError(const std::string& fileName) : Exception("Cannot create file " + fileName) {}
};

class EReadError : public Exception {
public:
  EReadError() : Exception("Stream read error") {}
};

class EWriteError : public Exception {
public:
  EWriteError() : Exception("Stream write error") {}
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
