// Checks shared by the unit and end-to-end tests: keys of a JSON object, a key over a list of
// objects, and a piece of a text.
#pragma once
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// A wanted value that stands for a key the object does not have.
inline const nlohmann::json kAbsent = nlohmann::json(nlohmann::json::value_t::discarded);

// Every key of `want` is in `got` with that value (kAbsent: `got` has no such key).
inline void ExpectHas(const nlohmann::json& got, const nlohmann::json& want) {
  for (auto it = want.begin(); it != want.end(); ++it) {
    const bool has = got.is_object() && got.contains(it.key());
    if (it->is_discarded()) {
      EXPECT_FALSE(has) << "\"" << it.key() << "\" in " << got.dump();
    } else if (!has) {
      ADD_FAILURE() << "no \"" << it.key() << "\" in " << got.dump();
    } else {
      EXPECT_EQ(got[it.key()], *it) << "\"" << it.key() << "\" in " << got.dump();
    }
  }
}

// The key's value in each object, in order (null where it is missing).
inline nlohmann::json Pluck(const nlohmann::json& objects, const std::string& key) {
  nlohmann::json out = nlohmann::json::array();
  for (const auto& o : objects)
    out.push_back(o.is_object() ? o.value(key, nlohmann::json()) : nlohmann::json());
  return out;
}

// Success when `text` holds `piece`; the failure shows both.
inline ::testing::AssertionResult Contains(const std::string& text, const std::string& piece) {
  if (text.find(piece) != std::string::npos) return ::testing::AssertionSuccess() << "has it";
  return ::testing::AssertionFailure() << "no \"" << piece << "\" in:\n" << text;
}
