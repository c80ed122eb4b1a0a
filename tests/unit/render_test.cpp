// The JSON and text renderers on display trees built by hand: every format's value, tables and
// bit tables, notes, refusals, escaping of labels and strings, key order.
#include "tdsengine/render.h"

#include <iterator>

#include "checks.h"
#include "plugin_harness.h"
#include "tdsengine/display_tree.h"

using nlohmann::json;

namespace {

const CPICodeTable kTypes[] = {{1, 1, "one"}, {2, 9, "two to nine"}, {0, 0, "Unknown"}};
const CPICodeTable kBits[] = {
    {0x01000000, 0, "bit 0 set"}, {0x01000000, 0, "bit 0 clear"}, {0x02000000, 0, "bit 1 set"},
    {0x02000000, 0, ""},          {0x80000000, 0, "bit 7 set"},   {0, 0, "Unknown"},
};

struct Tree {
  uint8_t frame[64] = {};
  DisplayTree tree;
  Tree() { tree.BeginFrame(frame, sizeof(frame), frame + 14); }
  const uint8_t* tds() const { return frame + 14; }
  void Field(const char* label, int32_t offset, int32_t size, FIELD_FORMAT format,
             const CPICodeTable* table = nullptr, int32_t rows = 0, uint32_t mask = 0xFFFFFFFF,
             const char* note = nullptr, bool msbFirst = true) {
    FieldRecord f{
        label, frame + 14 + offset, table, note, offset, size, format, rows, mask, -1, 0, msbFirst};
    tree.AddField(f);
  }
};

json RenderOne(const Tree& t, std::string* raw = nullptr) {
  MemoryOutput c;
  FrameMeta meta;
  meta.frame = 7;
  meta.conn = 3;
  meta.clientToServer = false;
  meta.result = 1;
  RenderFrameJson(t.tree, meta, c.out());
  const std::string s = c.text();
  if (raw) *raw = s;
  EXPECT_EQ(s.back(), '\n');
  EXPECT_EQ(s.find('\n'), s.size() - 1) << "one line per frame";
  return json::parse(s);
}

std::string RenderText(const Tree& t) {
  MemoryOutput c;
  FrameMeta meta;
  meta.frame = 2;
  meta.conn = 1;
  meta.tdsBytes = 50;
  RenderFrameText(t.tree, meta, c.out());
  return c.text();
}

}  // namespace

TEST(JsonRender, FrameAndPacketKeysInOrder) {
  Tree t;
  t.tree.AddPacket("TDS", "Long name");
  t.tree.AppendSummary("Sybase TDS:");
  t.tree.AppendSummary(" (x)");
  t.Field("A", 0, 1, FF_DECIMAL);
  t.tree.AddPacket("TDS", "Second");
  std::string raw;
  const json j = RenderOne(t, &raw);
  EXPECT_EQ(
      raw.rfind("{\"frame\": 7, \"conn\": 3, \"dir\": \"s2c\", \"result\": 1, \"packets\": [", 0),
      0u)
      << raw;
  EXPECT_LT(raw.find("\"title\""), raw.find("\"name\""));
  EXPECT_LT(raw.find("\"name\""), raw.find("\"summary\""));
  EXPECT_LT(raw.find("\"summary\""), raw.find("\"fields\""));
  ASSERT_EQ(j["packets"].size(), 2u);
  ExpectHas(j["packets"][0], {{"title", "TDS"},
                              {"name", "Long name"},
                              {"summary", "Sybase TDS: (x)"},
                              {"refused", kAbsent}});
  EXPECT_EQ(j["packets"][0]["fields"].size(), 1u);
  ExpectHas(j["packets"][1], {{"summary", ""}, {"fields", json::array()}});
}

TEST(JsonRender, IntegersInByteOrderAndWidth) {
  Tree t;
  const uint8_t bytes[] = {0x01, 0x02, 0xff, 0xfe, 0x80, 0, 0, 0, 0, 0x11};
  std::copy(bytes, bytes + sizeof(bytes), t.frame + 14);
  const struct {
    const char* label;
    int32_t offset, size;
    FIELD_FORMAT format;
    const char* formatName;
    bool msbFirst;
    json value;
  } fields[] = {
      {"msb", 0, 2, FF_DECIMAL, "decimal", true, 0x0102},
      {"lsb", 0, 2, FF_DECIMAL, "decimal", false, 0x0201},
      {"zero size", 0, 0, FF_DECIMAL, "decimal", true, 0},
      {"signed", 2, 2, FF_SIGNED, "signed", true, -2},
      {"signed 1", 4, 1, FF_SIGNED, "signed", true, -128},
      {"eight", 2, 8, FF_DECIMAL, "decimal", true, 0xfffe800000000011ull},
      {"signed eight", 2, 8, FF_SIGNED, "signed", true, int64_t(0xfffe800000000011ull)},
      {"nine", 0, 9, FF_DECIMAL, "decimal", true, "0102fffe8000000000"},  // over 8: hex bytes
      {"hex 3", 0, 3, FF_HEX, "hex", true, 0x0102ff},
      {"hex 5", 0, 5, FF_HEX, "hex", true, "0102fffe80"},
      {"hex 0", 0, 0, FF_HEX, "hex", true, ""},
      {"flags 4", 0, 4, FF_FLAGS, "flags", true, 0x0102fffe},
      {"flags 6", 0, 6, FF_FLAGS, "flags", true, "0102fffe8000"},
  };
  for (const auto& f : fields)
    t.Field(f.label, f.offset, f.size, f.format, nullptr, 0, 0, nullptr, f.msbFirst);
  const json got = RenderOne(t)["packets"][0]["fields"];
  ASSERT_EQ(got.size(), std::size(fields));
  for (size_t i = 0; i < std::size(fields); ++i) {
    ExpectHas(
        got[i],
        {{"label", fields[i].label}, {"value", fields[i].value}, {"format", fields[i].formatName}});
  }
}

TEST(JsonRender, StringsDumpsSpareVersionAndNone) {
  Tree t;
  const uint8_t bytes[] = {'a', 0, '"', '\\', '\n', 0x1f, 0xe9, 0xff, 0x7f, 5, 0, 12, 250};
  std::copy(bytes, bytes + sizeof(bytes), t.frame + 14);
  t.Field("s", 0, 9, FF_STRING);
  t.Field("dump", 0, 3, FF_DUMP);
  t.Field("spare", 0, 2, FF_SPARE);
  t.Field("version", 9, 4, FF_VERSION);
  t.Field("short version", 9, 2, FF_VERSION);
  t.Field("Pad", 0, 5, FF_NONE, nullptr, 0, 0, " note");
  std::string raw;
  const json f = RenderOne(t, &raw)["packets"][0]["fields"];
  // Every byte kept, ISO-8859-1 as UTF-8.
  EXPECT_EQ(f[0]["value"].get<std::string>(), std::string("a\0\"\\\n\x1f\xc3\xa9\xc3\xbf\x7f", 11));
  EXPECT_TRUE(Contains(raw, "a\\u0000\\\"\\\\\\n\\u001f"));
  ExpectHas(f[1], {{"value", "610022"}, {"format", "dump"}});
  ExpectHas(f[2], {{"value", "6100"}, {"format", "spare"}});
  EXPECT_EQ(f[3]["value"], "5.0.12.250");
  EXPECT_EQ(f[4]["value"], "5.0");
  ExpectHas(f[5], {{"format", "none"}, {"value", kAbsent}, {"note", " note"}, {"size", 5}});
}

TEST(JsonRender, TableTextBitsAndNotes) {
  Tree t;
  t.frame[14] = 5;
  t.frame[15] = 0x81;
  t.frame[16] = 0;
  t.frame[17] = 1;
  t.Field("in range", 0, 1, FF_DECIMAL, kTypes, 3);
  t.Field("no match", 1, 1, FF_HEX, kTypes, 3);
  t.Field("string with table", 0, 1, FF_STRING, kTypes, 3);
  t.Field("bits", 1, 1, FF_FLAGS, kBits, 6, 0xFF000000);
  t.Field("masked", 1, 1, FF_FLAGS, kBits, 6, 0x0F000000);
  t.Field("flags no table", 1, 1, FF_FLAGS, nullptr, 0, 0, " note");
  t.Field("two bytes", 2, 2, FF_FLAGS, kBits, 6, 0xFFFF0000);
  t.Field("empty note", 0, 1, FF_DECIMAL, nullptr, 0, 0, "");
  const json f = RenderOne(t)["packets"][0]["fields"];
  ExpectHas(f[0], {{"text", "two to nine"}, {"bits", kAbsent}, {"note", kAbsent}});
  EXPECT_EQ(f[1]["text"], "Unknown");
  EXPECT_EQ(f[2]["text"], "two to nine");
  ExpectHas(f[3], {{"text", kAbsent}, {"bits", json::array({"bit 0 set", "bit 7 set"})}});
  EXPECT_EQ(f[4]["bits"], json::array({"bit 0 set"})) << "rows outside the mask pass";
  ExpectHas(f[5], {{"bits", kAbsent}, {"note", " note"}});
  // 0x0001 on two bytes aligns to 0x00010000: bit 0 of a 1-byte table is bit 8 here.
  EXPECT_EQ(f[6]["bits"], json::array({"bit 0 clear"}));
  EXPECT_EQ(f[7]["note"], "");
}

TEST(JsonRender, RefusalAndEscapedLabels) {
  Tree t;
  t.tree.AddPacket("T\"1", "tab\there");
  t.Field("quote\" back\\ nl\n", 0, 1, FF_DECIMAL);
  t.Field("bad utf8 \xff\xfe ok \xc3\xa9", 0, 1, FF_DECIMAL);
  t.Field("", 0, 1, FF_DECIMAL);
  t.Field("trailing  ", 0, 1, FF_DECIMAL);
  t.tree.Refuse("Pad", 12, 4);
  t.tree.Refuse("Later", 1, 0);
  const json p = RenderOne(t)["packets"][0];
  ExpectHas(p, {{"title", "T\"1"},
                {"name", "tab\there"},
                {"refused", {{"label", "Pad"}, {"size", 12}, {"left", 4}}}});
  EXPECT_EQ(
      Pluck(p["fields"], "label"),
      json({"quote\" back\\ nl\n", "bad utf8 \xc3\xbf\xc3\xbe ok \xc3\xa9", "", "trailing  "}));
}

TEST(JsonRender, FieldsBeforeAnyTitleLandInAnUntitledPacket) {
  Tree t;
  t.Field("early", 0, 1, FF_DECIMAL);
  const json j = RenderOne(t);
  ASSERT_EQ(j["packets"].size(), 1u);
  EXPECT_EQ(j["packets"][0]["title"], "");
  EXPECT_EQ(j["packets"][0]["fields"][0]["label"], "early");
}

TEST(TextRender, TreeWithValuesTablesBitsDumpsAndRefusal) {
  Tree t;
  const uint8_t bytes[] = {5, 0x81, 'h', 'i', 0, 0xe9, 5, 0, 0, 0};
  std::copy(bytes, bytes + sizeof(bytes), t.frame + 14);
  t.tree.AddPacket("TDS", "Sybase Tabular Data Stream Protocol");
  t.tree.AppendSummary("Sybase TDS: (x)");
  t.Field("Type", 0, 1, FF_DECIMAL, kTypes, 3);
  t.Field("Status", 1, 1, FF_FLAGS, kBits, 6, 0xFF000000);
  t.Field("Name", 2, 4, FF_STRING);
  t.Field("Version", 6, 4, FF_VERSION);
  t.Field("Token", 0, 1, FF_HEX);
  t.Field("Length", 0, 1, FF_DECIMAL, nullptr, 0, 0, " byte(s)");
  t.Field("Small dump", 0, 3, FF_DUMP);
  t.Field("Big dump", 0, 40, FF_DUMP);
  t.Field("Pad", 0, 2, FF_NONE);
  t.tree.Refuse("Rest", 99, 3);
  const std::string s = RenderText(t);
  EXPECT_TRUE(Contains(s, "Frame 2: connection 1, client to server, 50 TDS bytes, result 0\n"));
  EXPECT_TRUE(Contains(s, "Sybase Tabular Data Stream Protocol (TDS): Sybase TDS: (x)\n"));
  EXPECT_TRUE(Contains(s, "\n        Type: 5 (two to nine)\n"));
  EXPECT_TRUE(
      Contains(s, "\n        Status: 0x81\n            bit 0 set\n            bit 7 set\n"));
  EXPECT_TRUE(Contains(s, "Name: \"hi\\0\xc3\xa9\"\n"));
  EXPECT_TRUE(Contains(s, "Version: 5.0.0.0\n"));
  EXPECT_TRUE(Contains(s, "Token: 0x05\n"));
  EXPECT_TRUE(Contains(s, "Length: 5 byte(s)\n"));
  EXPECT_TRUE(Contains(s, "Small dump: 058168\n"));
  EXPECT_TRUE(Contains(s, "Big dump: (40 bytes)\n            0000  05 81 68 69"));
  EXPECT_TRUE(Contains(s, "            0020  00 00"));
  EXPECT_TRUE(Contains(s, "Pad [2 bytes]\n"));
  EXPECT_TRUE(Contains(s, "[Refused: Rest needs 99 bytes, 3 left in the frame]"));
  EXPECT_EQ(s.substr(s.size() - 3), "]\n\n") << "an empty line ends the frame";
}
