// The decode engine as a protocol plug-in sees it: parse context, display tree, field output,
// code-table lookup, value holders and the per-connection conversation store.
//
// Everything here is exported from libtdsengine.so, which both the host and the plug-in link
// against, so they share one display tree and one store.
#pragma once

#include <cstddef>
#include <cstdint>

#define TDSENGINE_API __attribute__((visibility("default")))

// Display formats of a field.
enum FIELD_FORMAT : int32_t {
  FF_NONE = -1,
  FF_DECIMAL = 1,
  FF_STRING = 2,
  FF_SPARE = 3,
  FF_HEX = 4,
  FF_FLAGS = 6,
  FF_SIGNED = 7,
  FF_DUMP = 8,
  FF_VERSION = 11,
};

// Byte order of a field or a value holder.
enum ENDIANNESS : int32_t {
  BO_PARSER = 0,     // as the parse context is set (SetEndianess)
  BO_MSB_FIRST = 1,  // most significant byte first
  BO_LSB_FIRST = 2,  // least significant byte first
};

// One row of a code table. Value tables match low <= value <= high; bit tables keep the bit's
// mask, aligned to the top of a 32-bit word, in `low`.
struct CPICodeTable {
  uint32_t low;
  uint32_t high;
  const char* text;
};

// Parse context, one per TDS packet.
class TDSENGINE_API CParser {
 public:
  CParser(const uint8_t* frameStart, const uint8_t* position, const char* name, int32_t protocol,
          uint16_t endianess);

  int32_t ParseResult;    // first member: the entry's result word
  int32_t m_startOffset;  // second member: position of the packet in the frame
  int32_t m_protocol;     // third member: protocol number
  int32_t m_frameLength;  // fourth member: bytes of the frame from the packet on
  uint16_t m_endianess;   // 1: most significant byte first, 0: least significant first
  const uint8_t* m_frameStart;
  const char* m_name;

  void SetEndianess(uint16_t endianess) { m_endianess = endianess; }
  bool MsbFirst() const { return m_endianess != 0; }
};

class DisplayTree;  // the engine's record of one frame's decode (display_tree.h)

// The display tree handed to the plug-in. It carries the connection the frame belongs to.
class TDSENGINE_API CPDecode {
 public:
  explicit CPDecode(DisplayTree* tree) : m_tree(tree) {}

  static int SummaryMode() { return 1; }
  void addTitle(int mode, const char* text);
  void addDecode(int mode, const char* text);
  int addResultNew(int mode, int32_t a, int32_t b, int32_t c, int32_t d);

  uint32_t ConnectionId = 0;
  DisplayTree* m_tree;
};

// Value holder: copies up to eight bytes at the cursor; bytes outside the current frame read as
// zero. get() yields the value in the holder's byte order.
class TDSENGINE_API CPIInteger {
 public:
  CPIInteger() = default;
  CPIInteger(const CPIInteger&) = delete;
  CPIInteger& operator=(const CPIInteger&) = delete;

  void set(const uint8_t* bytes, int32_t size, int32_t order);
  // 0x7fffffff for sizes of 5 or more, 0 below 1, else the bytes as a 32-bit integer.
  int32_t get() const;
  void free() { m_size = 0; }

 private:
  uint8_t m_bytes[8] = {};
  int32_t m_size = 0;
  int32_t m_order = BO_MSB_FIRST;
};

// Conversation-store block.
struct SimBlockTag {
  uint8_t kind;
  uint32_t key;
  char text[16];
  int32_t data;
};

using SimReleaseFn = int (*)(SimBlockTag block);

// Adds the title node of a new packet.
TDSENGINE_API void PIOutputTitleToCPDecode(const char* shortName, const char* longName,
                                           CPDecode* tree, CParser parser);

// Emits one field: advances the cursor and lowers the remaining count by its size. Returns 0 and
// records the refusal when the size is negative or larger than the remaining count.
TDSENGINE_API int PIOutputToCPDecode(int32_t& remaining, const uint8_t*& cursor, int32_t offset,
                                     CPDecode* tree, CParser& parser, const char* label,
                                     FIELD_FORMAT format, int32_t size, const CPICodeTable* table,
                                     int32_t rows, uint32_t mask, const char* note,
                                     const char* note2, ENDIANNESS order);

// Index of the row that interprets the value: the first row in table order whose range holds
// it, else the final row. Negative without a table.
TDSENGINE_API int PIgetInterpretationString(int kind, int32_t value, int32_t rows,
                                            const CPICodeTable* table);

// Conversation store of the connection being decoded.
TDSENGINE_API int SimAddInfo(SimBlockTag* block, SimReleaseFn release);
TDSENGINE_API int SimFindInfo(uint8_t kind, uint32_t key, SimBlockTag* block, int flag);
TDSENGINE_API int SimDeleteInfo(uint8_t kind, uint32_t key, int flag);

// Message view: how a value is written. NULL; a number (JSON number, text as is); a boolean
// ("true"/"false"); character data (a quoted string in both outputs); other text (a JSON string,
// shown unquoted in text output: hex, dates and times, exact decimals).
enum TdsValueKind : uint8_t {
  VK_NULL = 0,
  VK_NUMBER = 1,
  VK_BOOL = 2,
  VK_CHARS = 3,
  VK_TEXT = 4,
};
// Value flags: an output parameter; a name that JSON takes as it is (printable ASCII, no quote
// or backslash); a value text that every output takes as it is (the same bytes).
enum TdsValueFlags : uint8_t {
  VF_OUTPUT = 0x01,
  VF_PLAIN_NAME = 0x02,
  VF_PLAIN_VALUE = 0x04,
};

// Message view texts (values, names, texts in place of field bytes) are UTF-8, but for a byte
// the plug-in could not decode in the connection's character set: that is marked by the three
// bytes ED, B0 + (byte >> 6), 80 + (byte & 3F) (the UTF-8 form of the lone surrogate
// U+DC00 + byte, which decoded text never holds). Text output shows it as \xNN, JSON as the
// text "\\xNN". Returns the byte of the mark at s (left bytes there), or -1 when there is none.
inline int UndecodedByteAt(const uint8_t* s, size_t left) {
  if (left < 3 || s[0] != 0xED || (s[1] & 0xFC) != 0xB0 || (s[2] & 0xC0) != 0x80) return -1;
  return (s[1] & 0x03) << 6 | (s[2] & 0x3F);
}

// What text output writes for a mark of an undecoded byte (\xNN) or a C1 control character
// (\u0080 to \u009f) at s: the escape into `escape` (its size in `escapeSize`), and the bytes of
// s it stands for; 0 when s holds neither.
inline size_t TextEscapeAt(const uint8_t* s, size_t left, char (&escape)[6], size_t& escapeSize) {
  static constexpr char kHex[] = "0123456789abcdef";
  const int undecoded = UndecodedByteAt(s, left);
  if (undecoded >= 0) {
    const char x[4] = {'\\', 'x', kHex[undecoded >> 4], kHex[undecoded & 15]};
    for (size_t k = 0; k < 4; ++k) escape[k] = x[k];
    escapeSize = 4;
    return 3;
  }
  if (left >= 2 && s[0] == 0xC2 && s[1] >= 0x80 && s[1] < 0xA0) {
    const char u[6] = {'\\', 'u', '0', '0', kHex[s[1] >> 4], kHex[s[1] & 15]};
    for (size_t k = 0; k < 6; ++k) escape[k] = u[k];
    escapeSize = 6;
    return 2;
  }
  return 0;
}

// Message view: a column or parameter whose values follow in this message (name UTF-8, copied;
// type a constant SQL type name; flags TdsValueFlags). Returns its number, -1 when refused.
TDSENGINE_API int32_t PIOutputColumn(CPDecode* tree, const char* name, int32_t nameSize,
                                     const char* type, int32_t flags);
// Message view: a value of that column, added to the latest record (title); text UTF-8, copied.
TDSENGINE_API void PIOutputValue(CPDecode* tree, int32_t column, int32_t kind, const char* text,
                                 int32_t textSize);
// Message view: values whose texts are written in place, one after the other. PIValueRoom
// gives room for at least `room` bytes and sets *available to the bytes there are in all
// (nullptr when refused); the room stays valid until the tree next changes. PICommitValues
// then keeps `count` values whose texts lie one after the other from the start of that room,
// each with its column, kind, size and own flags (VF_PLAIN_VALUE), added to its column's.
struct TdsWrittenValue {
  int32_t column;
  int32_t size;
  uint8_t kind;
  uint8_t flags;
};
TDSENGINE_API char* PIValueRoom(CPDecode* tree, int32_t room, int32_t* available);
TDSENGINE_API void PICommitValues(CPDecode* tree, const TdsWrittenValue* values, int32_t count);
// Message view: the latest field's value is this UTF-8 text (copied) rather than its bytes.
TDSENGINE_API void PIAttachFieldText(CPDecode* tree, const char* text, int32_t size);

// Message view: every field of the latest record with this label shows this text instead of
// its bytes (a password masked).
TDSENGINE_API void PIReplaceFieldText(CPDecode* tree, const char* label, const char* text);

// Message view, a connection whose byte order is undecided: every field of the tree of more
// than one byte read least significant byte first as a number, flags or hex shows its bytes
// instead (the order it was read in is a guess).
TDSENGINE_API void PIShowOrderedFieldsRaw(CPDecode* tree);

// Message view: marks the record of the latest title as one token of a message, with the
// token's code (-1 for a record that is not a token), its offset from the first byte of the
// message data and the bytes it covers.
TDSENGINE_API void PIMarkTokenSpan(CPDecode* tree, int32_t token, int32_t offset, int32_t size);
