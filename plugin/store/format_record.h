// Format records: the datatype codes a format token announced, filed in the conversation store
// for the data tokens that follow. Once filed, a record belongs to the store and is freed only
// by ReleaseFormatRecord.
#pragma once
#include <cstdint>

#include "tdsengine/engine.h"

struct FormatRecord {
  int16_t count;   // columns, parameters or operators described
  uint8_t* types;  // count datatype codes, then a zero byte
};

// A record with count 0 and room for `capacity` codes plus the terminating zero; null when
// memory is short.
FormatRecord* NewFormatRecord(int32_t capacity);
// Frees a record that was never filed.
void DiscardFormatRecord(FormatRecord* record);
// Appends a code, keeping the codes zero-terminated; the caller keeps within the capacity.
void AppendFormatType(FormatRecord* record, uint8_t code);

// Deletes whatever block is filed under the key (its record is released by the store).
void DeleteFormatRecord(uint32_t key);
// Files the record under the key; the store owns it from here on, also when filing fails.
void FileFormatRecord(uint32_t key, FormatRecord* record);
// The record filed under the key, or null. The caller only reads it.
const FormatRecord* FindFormatRecord(uint32_t key);

// Release callback of every format block.
int ReleaseFormatRecord(SimBlockTag block);
