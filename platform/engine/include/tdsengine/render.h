// Rendering of a decoded frame: JSON Lines (one object per frame) and a readable text tree.
// Both write straight into an OutBuffer; nothing is allocated per field.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tdsengine/display_tree.h"
#include "tdsengine/out_buffer.h"

// What the host knows about a frame besides its decode.
struct FrameMeta {
  uint64_t frame = 0;  // number of the frame in its input
  uint32_t conn = 0;   // connection number
  bool clientToServer = true;
  int32_t result = 0;    // what the decoder returned
  int32_t tdsBytes = 0;  // TDS bytes handed to the decoder
};

// {"frame": N, "conn": C, "dir": "c2s", "result": R, "packets": [...]} and a newline.
TDSENGINE_API void RenderFrameJson(const DisplayTree& tree, const FrameMeta& meta, OutBuffer& out);

// The frame as an indented tree, followed by an empty line.
TDSENGINE_API void RenderFrameText(const DisplayTree& tree, const FrameMeta& meta, OutBuffer& out);

// Pieces the renderers are made of, for other record kinds built from the same fields.

// A JSON string literal (quotes included) of text taken as UTF-8/ASCII bytes; control characters
// and bytes that are not valid UTF-8 are escaped so the output is always valid JSON.
TDSENGINE_API void JsonPutString(OutBuffer& out, const char* text, size_t length);
TDSENGINE_API void JsonPutString(OutBuffer& out, const char* text);
// A JSON string literal of bytes taken as ISO-8859-1 characters, every byte kept.
TDSENGINE_API void JsonPutLatin1(OutBuffer& out, const uint8_t* bytes, size_t length);
// One field object as in a packet's "fields" array.
TDSENGINE_API void RenderFieldJson(const FieldRecord& field, OutBuffer& out);
// The objects of `count` fields, separated by ", " (the inside of a "fields" array).
TDSENGINE_API void RenderFieldsJson(const FieldRecord* fields, size_t count, OutBuffer& out);
// One packet object: title, name, summary, fields and the refusal when there is one.
TDSENGINE_API void RenderPacketJson(const DisplayTree& tree, const PacketRecord& packet,
                                    OutBuffer& out);
// Message view: the fields of one token record (decoded texts in place of their bytes where the
// plug-in gave them), and its values.
TDSENGINE_API void RenderRecordFieldsJson(const DisplayTree& tree, const PacketRecord& record,
                                          OutBuffer& out);
TDSENGINE_API void RenderRecordFieldsText(const DisplayTree& tree, const PacketRecord& record,
                                          int indent, OutBuffer& out);
// {"name": ..., "type": ..., "value": ...} objects separated by ", "; with `outputKey`, output
// parameters carry "output": true.
TDSENGINE_API void RenderValueJson(const DisplayTree& tree, const ValueRecord& value,
                                   bool outputKey, OutBuffer& out);
TDSENGINE_API void RenderValuesJson(const DisplayTree& tree, const PacketRecord& record,
                                    OutBuffer& out);
// `name (type): value` lines; character data quoted and escaped, NULL for null.
TDSENGINE_API void RenderValuesText(const DisplayTree& tree, const PacketRecord& record, int indent,
                                    OutBuffer& out);
// A value's text as written in text output (quoted and escaped for character data).
TDSENGINE_API void RenderValueText(const DisplayTree& tree, const ValueRecord& value,
                                   OutBuffer& out);

// One field as text lines at the given indent (in units of four blanks).
TDSENGINE_API void RenderFieldText(const FieldRecord& field, int indent, OutBuffer& out);
// The lines of `count` fields at the given indent.
TDSENGINE_API void RenderFieldsText(const FieldRecord* fields, size_t count, int indent,
                                    OutBuffer& out);
