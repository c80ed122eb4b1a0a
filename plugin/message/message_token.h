// The message view's token decoders: each shows one token of a whole message in the layout real
// clients and servers send, reading its steering values in the connection's byte order, and
// keeps what later tokens need in the connection's session.
#pragma once
#include <cstdint>
#include <string>

#include "engine/emit.h"
#include "message/session.h"
#include "tdswire/reader.h"
#include "tdswire/values.h"

// The number of the message walk under way (each walk has a display tree of its own).
uint64_t CurrentWalk();

struct MessageToken {
  CPDecode* tree;
  MessageSession& session;
  int dir;        // 0 client to server, 1 server to client
  bool msbFirst;  // the connection's byte order
  bool rawOrder;  // the order is undecided: values read in it are shown as their bytes
  bool showPasswords;
  const uint8_t* start;  // the token's first byte (its type)
  int32_t size;          // the token's bytes; for data tokens, the rest of the message
  std::string& scratch;  // reused text buffer

  // How its values are read (ValueReading bits).
  uint8_t reading() const {
    return static_cast<uint8_t>(session.notIeee | (rawOrder ? kOrderUndecided : 0));
  }
};

// Decodes the token through `out` (cursor at its type byte, remaining = size). Returns the
// bytes it took, or -1 when a field was refused.
using MessageDecoder = int32_t (*)(MessageToken& t, Out& out);

// The decoder of a code in the message view, or null where the classic decoder's layout is
// what real traffic sends.
MessageDecoder MessageDecoderOf(uint8_t code);

// A steering value of `width` bytes at the cursor in the connection's order; 0 when the bytes
// are not there (the field emitted next is then refused).
inline uint32_t Peek(const MessageToken& t, const Out& out, int32_t width) {
  WireReader r{out.cursor, out.remaining, t.msbFirst};
  uint32_t v = 0;
  return r.Uint(width, v) ? v : 0;
}

// Emits a string field whose bytes are text in the connection's character set, with the
// decoded text attached when it differs from the bytes read as ISO-8859-1.
bool EmitText(MessageToken& t, Out& out, const FieldDef& def, int32_t size);
// Emits a 1-byte length and the name it counts, as text.
bool EmitName(MessageToken& t, Out& out, const FieldDef& length, const FieldDef& name);
// The values of a data token under the format: one value record each, no fields. A column
// status byte precedes the values of the entries that ask for it, except in KEY (keysOnly).
bool EmitValues(MessageToken& t, Out& out, const KeptFormat& kept, bool keysOnly, bool params);

// The datatype byte and the type information after it, as the datatype's rule says (row
// formats: text and image carry a table name).
bool EmitTypeInfo(MessageToken& t, Out& out, bool rowFormat);

// What a data decoder returns when no format is in force for it.
constexpr int32_t kNoFormat = -2;

// A row or parameter format just kept: dynamic statements note it as theirs (dynamic.cpp).
void NoteRowFormat(MessageToken& t, const KeptFormat& kept);
void NoteParamFormat(MessageToken& t, const KeptFormat& kept);

// Decoders by token group. Each starts after the type byte, which the walk has shown.
int32_t DecodeRowFmtReal(MessageToken& t, Out& out);
int32_t DecodeRowFmt2(MessageToken& t, Out& out);
int32_t DecodeParamFmtReal(MessageToken& t, Out& out);
int32_t DecodeParamFmt2(MessageToken& t, Out& out);
int32_t DecodeAltFmtReal(MessageToken& t, Out& out);
int32_t DecodeAltNameReal(MessageToken& t, Out& out);
int32_t DecodeRowReal(MessageToken& t, Out& out);
int32_t DecodeKeyReal(MessageToken& t, Out& out);
int32_t DecodeParamsReal(MessageToken& t, Out& out);
int32_t DecodeAltRowReal(MessageToken& t, Out& out);
int32_t DecodeLanguageReal(MessageToken& t, Out& out);
int32_t DecodeDbRpcReal(MessageToken& t, Out& out);
int32_t DecodeDbRpc2(MessageToken& t, Out& out);
int32_t DecodeDynamicReal(MessageToken& t, Out& out);
int32_t DecodeDynamic2(MessageToken& t, Out& out);
int32_t DecodeOptionCmdReal(MessageToken& t, Out& out);
int32_t DecodeCapabilityReal(MessageToken& t, Out& out);
int32_t DecodeEnvChangeReal(MessageToken& t, Out& out);
int32_t DecodeLoginAckReal(MessageToken& t, Out& out);
int32_t DecodeOrderBy2(MessageToken& t, Out& out);
int32_t DecodeCurDeclareReal(MessageToken& t, Out& out);
int32_t DecodeCurDeclareWide(MessageToken& t, Out& out);
int32_t DecodeCurInfoReal(MessageToken& t, Out& out);
int32_t DecodeCurInfoWide(MessageToken& t, Out& out);
int32_t DecodeDoneProcReal(MessageToken& t, Out& out);
int32_t DecodeUnknownToken(MessageToken& t, Out& out);
int32_t DecodeReturnValueReal(MessageToken& t, Out& out);
int32_t DecodeRpcReal(MessageToken& t, Out& out);
