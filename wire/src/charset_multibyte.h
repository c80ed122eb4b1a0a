// Characters of the multi-byte sets (sjis, eucjis, eucgb, eucksc, big5, gb18030): where one
// ends, by its lead byte, and its UTF-8, through the C library's iconv.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tdswire/charset.h"

// The bytes of the character whose lead byte (0x80 or above) is at `at`, by the set's rules;
// 0 when the byte leads none or the bytes end first. Not checked beyond the lead byte: the
// conversion checks the rest.
size_t MultiByteCharSize(Charset charset, const uint8_t* at, size_t left);

// Writes the character's `size` bytes as UTF-8 at `out` (room for 4 * size bytes) and returns
// the end; null when they do not convert (or the C library cannot convert the set).
char* PutMultiByte(Charset charset, const uint8_t* at, size_t size, char* out);
