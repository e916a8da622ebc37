// Small helpers shared by the test files.
#pragma once

#include "Exceptions.h"

#include <gtest/gtest.h>

#include <string>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

// Asserts that statement raises exactly ExceptionClass with message.
#define EXPECT_RAISES(statement, ExceptionClass, expectedMessage)                                      \
  do {                                                                                                 \
    try {                                                                                              \
      statement;                                                                                       \
      ADD_FAILURE() << "no exception from " #statement;                                                \
    } catch (const ExceptionClass& e_) {                                                               \
      EXPECT_EQ(std::string(e_.what()), std::string(expectedMessage));                                 \
    } catch (const std::exception& e_) {                                                               \
      ADD_FAILURE() << "wrong exception class from " #statement ": " << typeid(e_).name() << ": "      \
                    << e_.what();                                                                      \
    }                                                                                                  \
  } while (0)

#ifndef _WIN32
namespace postvue::testing {

// Files this process writes may not grow past limit bytes while it lives; a
// longer write fails with EFBIG instead of the signal.
// (Child processes started meanwhile inherit the limit.)
class TFileSizeLimit {
public:
  explicit TFileSizeLimit(rlim_t limit) {
    getrlimit(RLIMIT_FSIZE, &Former);
    FormerHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = Former;
    lowered.rlim_cur = limit;
    Ok = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
  }
  ~TFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &Former);
    std::signal(SIGXFSZ, FormerHandler);
  }
  TFileSizeLimit(const TFileSizeLimit&) = delete;
  TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;
  bool Ok = false;

private:
  rlimit Former{};
  void (*FormerHandler)(int) = SIG_DFL;
};

} // namespace postvue::testing
#endif
