// The JSON writer: any bytes make valid JSON that reads back as those bytes;
// commas, lines and pieces.
#include "tools/kxtable/json_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tools/kxtable/csv_codec.h"

namespace {

using kxtable::JsonWriter;

// What a writer hands to its sink, piece by piece.
struct Pieces {
  std::vector<std::string> pieces;
  JsonWriter::Sink Sink() {
    return [this](std::string_view text) { pieces.emplace_back(text); };
  }
  std::string Text() const {
    std::string text;
    for (const std::string& piece : pieces) text += piece;
    return text;
  }
};

TEST(JsonWriterTest, AnyBytesMakeAStringThatReadsBackAsThem) {
  struct Case {
    std::string bytes;
    std::string json;  // as written, without the line end
  };
  const Case cases[] = {
      {.bytes = "2024-03-01 08:00:00", .json = R"("2024-03-01 08:00:00")"},
      {.bytes = "", .json = R"("")"},
      {.bytes = "say \"hi\"", .json = R"("say \"hi\"")"},
      {.bytes = "C:\\data", .json = R"("C:\\data")"},
      // A backslash that would read as an escape is one itself.
      {.bytes = "\\x41", .json = R"("\\x5cx41")"},
      {.bytes = std::string("2024-03-0\0"
                            "1",
                            11),
       .json = R"("2024-03-0\\x001")"},
      {.bytes = "a\tb\r\n", .json = R"("a\tb\r\n")"},
      {.bytes = "\x01\x1f\x7f", .json = R"("\\x01\\x1f\\x7f")"},
      {.bytes = "201\xfc-04-27", .json = R"("201\\xfc-04-27")"},
      {.bytes = "caf\xc3\xa9", .json = "\"caf\xc3\xa9\""},
      {.bytes = "\xc3", .json = R"("\\xc3")"},
  };
  for (const Case& c : cases) {
    Pieces out;
    JsonWriter json(out.Sink());
    json.String(c.bytes);
    EXPECT_EQ(out.Text(), c.json + "\n") << c.bytes;
    std::string back;
    kxtable::UnescapeCell(nlohmann::json::parse(out.Text()).get<std::string>(),
                          back);
    EXPECT_EQ(back, c.bytes);
  }
}

TEST(JsonWriterTest, ValuesAndContainersOneLinePerTopLevelValue) {
  Pieces out;
  JsonWriter json(out.Sink());
  json.BeginObject();
  json.Key("n");
  json.BeginArray();
  json.Number(std::numeric_limits<int64_t>::min());
  json.Number(0);
  json.Number(std::numeric_limits<int64_t>::max());
  json.EndArray();
  json.Key("e");
  json.BeginObject();
  json.EndObject();
  json.Key("a");
  json.BeginArray();
  json.BeginArray();
  json.EndArray();
  json.Bool(true);
  json.Bool(false);
  json.Null();
  json.EndArray();
  // The same text that needs escaping, then another: each written as itself.
  json.Key("s");
  json.BeginArray();
  for (const char* text : {"\xfc", "\xfc", "\xfd", "\xfc"}) json.String(text);
  json.EndArray();
  json.EndObject();
  json.BeginArray();
  json.EndArray();
  EXPECT_EQ(out.Text(),
            R"({"n":[-9223372036854775808,0,9223372036854775807],"e":{},)"
            R"("a":[[],true,false,null],"s":["\\xfc","\\xfc","\\xfd","\\xfc"]})"
            "\n[]\n");
  EXPECT_EQ(out.pieces.size(), 2u);  // each line handed over when complete
}

TEST(JsonWriterTest, ALongLineGoesOutInPiecesOfTheChunkSize) {
  Pieces out;
  JsonWriter json(out.Sink());
  const std::string long_text(3 * JsonWriter::kChunk, 'x');
  json.BeginArray();
  for (int i = 0; i < 100000; ++i) json.Number(i);
  json.String(long_text);
  json.EndArray();
  // The writer holds at most a chunk; a longer text goes out as it is.
  EXPECT_GT(out.pieces.size(), 3u);
  for (const std::string& piece : out.pieces) {
    EXPECT_TRUE(piece.size() <= JsonWriter::kChunk || piece == long_text);
  }
  const nlohmann::json back = nlohmann::json::parse(out.Text());
  ASSERT_EQ(back.size(), 100001u);
  EXPECT_EQ(back[99999], 99999);
  EXPECT_EQ(back[100000], long_text);
}

}  // namespace
