// A check that a text holds a piece, for the tests of text output (unit and end to end).
#pragma once
#include <gtest/gtest.h>

#include <string>

// Success when `text` holds `piece`; the failure shows both.
inline ::testing::AssertionResult Contains(const std::string& text, const std::string& piece) {
  if (text.find(piece) != std::string::npos) return ::testing::AssertionSuccess() << "has it";
  return ::testing::AssertionFailure() << "no \"" << piece << "\" in:\n" << text;
}
