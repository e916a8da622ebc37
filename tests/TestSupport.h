// Small helpers shared by the test files.
#pragma once

#include "Exceptions.h"

#include <gtest/gtest.h>

#include <string>

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
