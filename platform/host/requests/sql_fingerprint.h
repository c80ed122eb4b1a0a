// Statement fingerprints: a SQL text with its literals replaced by `?`, so that the statements
// that differ only in their values share one fingerprint, and a stable 64-bit hash of it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Appends the fingerprint of `sql` to `out`: string literals ('..', "..", N'..'), numbers
// (with a sign where it is unary), binary (0x..) and money ($..) literals become `?`; a list of
// literals after `in` becomes `(?+)`; comments (`--` to the end of the line, `/* */`, nested)
// are dropped; runs of white space and comments become one blank, none at either end; the words
// of a fixed keyword table are lower-cased; identifiers ([..] included) are kept as written.
void FingerprintSql(std::string_view sql, std::string& out);

// FNV-1a, 64 bits, over the bytes of a fingerprint: the same on every run and platform.
uint64_t FingerprintHash(std::string_view fingerprint);

// The hash as 16 lower-case hex digits (and a terminating zero in `digits`).
void FingerprintIdChars(uint64_t id, char (&digits)[17]);
std::string FingerprintIdText(uint64_t id);
