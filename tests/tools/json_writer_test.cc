// The JSON writer (any bytes make valid JSON that reads back as those bytes;
// commas, lines and pieces) and a table's JSON line made from the calls an
// operation makes.
#include "tools/kxtable/json_writer.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tools/kxtable/csv_codec.h"
#include "tools/kxtable/json_report.h"

namespace {

using kxcheck::RecordClass;
using kxcheck::StampTest;
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

// The line a writer makes of `bytes` as a string, checked to read back as
// those bytes.
std::string StringLine(const std::string& bytes) {
  Pieces out;
  JsonWriter json(out.Sink());
  json.String(bytes);
  std::string back;
  kxtable::UnescapeCell(nlohmann::json::parse(out.Text()).get<std::string>(),
                        back);
  EXPECT_EQ(back, bytes);
  return out.Text();
}

TEST(JsonWriterTest, AnyBytesMakeAStringThatReadsBackAsThem) {
  struct Case {
    std::string bytes;
    std::string json;  // as written, without the line end
  };
  const Case cases[] = {
      {.bytes = "2024-03-01 08:00:00", .json = R"("2024-03-01 08:00:00")"},
      {.bytes = "say \"hi\"", .json = R"("say \"hi\"")"},
      {.bytes = "C:\\data", .json = R"("C:\\data")"},
      // A backslash that would read as an escape is one itself.
      {.bytes = "\\x41", .json = R"("\\x5cx41")"},
      {.bytes = std::string("03-0\0001", 6), .json = R"("03-0\\x001")"},
      {.bytes = "a\tb\r\n\x7f", .json = R"("a\tb\r\n\\x7f")"},
      {.bytes = "201\xfc-04", .json = R"("201\\xfc-04")"},
      {.bytes = "caf\xc3\xa9", .json = "\"caf\xc3\xa9\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(StringLine(c.bytes), c.json + "\n");
  }
}

// Plain bytes are looked at eight at a time: every byte value, in the first
// word of a stamp and in its tail, is copied as it is exactly when it is
// printable ASCII other than the quote and the backslash.
TEST(JsonWriterTest, EveryByteValueInAWordAndInTheTail) {
  for (int b = 0; b < 256; ++b) {
    const bool plain = b >= 0x20 && b <= 0x7e && b != '"' && b != '\\';
    for (const size_t at : {size_t{5}, size_t{17}}) {
      std::string bytes = "2024-03-01 08:00:00";
      bytes[at] = static_cast<char>(b);
      SCOPED_TRACE(std::to_string(b) + " at " + std::to_string(at));
      EXPECT_EQ(StringLine(bytes) == "\"" + bytes + "\"\n", plain);
    }
  }
}

TEST(JsonWriterTest, CommasAndOneLinePerTopLevelValue) {
  Pieces out;
  JsonWriter json(out.Sink());
  json.BeginObject();
  json.Key("a");
  json.BeginArray();
  json.BeginArray();
  json.EndArray();
  json.Number(-1);
  json.Bool(false);
  json.Null();
  json.EndArray();
  // The same text that needs escaping, then another: each written as itself.
  json.Key("s");
  json.BeginArray();
  for (const char* text : {"\xfc", "\xfc", "\xfd"}) json.String(text);
  json.EndArray();
  json.EndObject();
  json.BeginObject();
  json.EndObject();
  EXPECT_EQ(out.Text(),
            R"({"a":[[],-1,false,null],"s":["\\xfc","\\xfc","\\xfd"]})"
            "\n{}\n");
  EXPECT_EQ(out.pieces.size(), 2u);  // each line handed over when complete
}

TEST(JsonWriterTest, ALongLineGoesOutInPiecesOfTheChunkSize) {
  Pieces out;
  JsonWriter json(out.Sink());
  const std::string long_text(3 * JsonWriter::kChunk, 'x');
  // Numbers enough for more than two pieces.
  const int numbers = static_cast<int>(JsonWriter::kChunk / 3);
  json.BeginArray();
  for (int i = 0; i < numbers; ++i) json.Number(i);
  json.String(long_text);
  json.EndArray();
  // The writer holds at most a chunk; a longer text goes out as it is.
  EXPECT_GT(out.pieces.size(), 3u);
  for (const std::string& piece : out.pieces) {
    EXPECT_TRUE(piece.size() <= JsonWriter::kChunk || piece == long_text);
  }
  const nlohmann::json back = nlohmann::json::parse(out.Text());
  ASSERT_EQ(back.size(), static_cast<size_t>(numbers) + 1);
  EXPECT_EQ(back[numbers - 1], numbers - 1);
  EXPECT_EQ(back[numbers], long_text);
}

// A record's element is written as pieces of text, the repeated ones kept
// while their inputs stay the same (record after record under a spread):
// each element is what its own calls say, whatever came before it.
TEST(JsonReportTest, RepeatedPiecesAreTheTextOfTheirOwnRecord) {
  using kxcheck::StampReason;
  struct Call {
    int64_t record;
    StampTest test = StampTest::kOrder;  // a finding, unless set is given
    std::string previous;
    std::string set;
    StampReason reason = StampReason::kOutOfOrder;
  };
  struct Case {
    const char* name;
    std::vector<Call> calls;
    std::string records;  // the "records" array's elements as written
  };
  const std::string a = "2024-03-01 08:00:00";
  const std::string b = "2024-03-01 09:00:00";
  const std::string odd = "201\xfc-04-27 \"16\":58";  // needs escaping
  const Case cases[] = {
      {.name = "one previous and set, record after record",
       .calls = {{.record = 1, .previous = a},
                 {.record = 1, .set = a},
                 {.record = 2, .previous = a},
                 {.record = 2, .set = a}},
       .records =
           R"({"record":1,"stamp":"s","findings":[{"test":"order","previous":"2024-03-01 08:00:00"}],"set":"2024-03-01 08:00:00","reason":"out of order"},)"
           R"({"record":2,"stamp":"s","findings":[{"test":"order","previous":"2024-03-01 08:00:00"}],"set":"2024-03-01 08:00:00","reason":"out of order"})"},
      {.name = "previous changes and comes back",
       .calls = {{.record = 1, .previous = a},
                 {.record = 2, .previous = b},
                 {.record = 3, .previous = a}},
       .records =
           R"({"record":1,"stamp":"s","findings":[{"test":"order","previous":"2024-03-01 08:00:00"}]},)"
           R"({"record":2,"stamp":"s","findings":[{"test":"order","previous":"2024-03-01 09:00:00"}]},)"
           R"({"record":3,"stamp":"s","findings":[{"test":"order","previous":"2024-03-01 08:00:00"}]})"},
      {.name = "same stamp set for another reason",
       .calls = {{.record = 1, .set = a},
                 {.record = 2, .set = a, .reason = StampReason::kSpike},
                 {.record = 3, .set = a, .reason = StampReason::kSpike}},
       .records =
           R"({"record":1,"stamp":"s","set":"2024-03-01 08:00:00","reason":"out of order"},)"
           R"({"record":2,"stamp":"s","set":"2024-03-01 08:00:00","reason":"spike"},)"
           R"({"record":3,"stamp":"s","set":"2024-03-01 08:00:00","reason":"spike"})"},
      {.name = "bytes that need escaping, then plain ones",
       .calls = {{.record = 1, .previous = odd},
                 {.record = 1, .set = odd},
                 {.record = 2, .previous = odd},
                 {.record = 2, .set = a}},
       .records =
           R"({"record":1,"stamp":"s","findings":[{"test":"order","previous":"201\\xfc-04-27 \"16\":58"}],"set":"201\\xfc-04-27 \"16\":58","reason":"out of order"},)"
           R"({"record":2,"stamp":"s","findings":[{"test":"order","previous":"201\\xfc-04-27 \"16\":58"}],"set":"2024-03-01 08:00:00","reason":"out of order"})"},
      {.name = "other tests between order findings",
       .calls = {{.record = 1, .previous = a},
                 {.record = 1, .test = StampTest::kMonth},
                 {.record = 1, .test = StampTest::kDay},
                 {.record = 2, .test = StampTest::kMonth},
                 {.record = 2, .previous = b}},
       .records =
           R"({"record":1,"stamp":"s","findings":[{"test":"order","previous":"2024-03-01 08:00:00"},{"test":"month"},{"test":"day"}]},)"
           R"({"record":2,"stamp":"s","findings":[{"test":"month"},{"test":"order","previous":"2024-03-01 09:00:00"}]})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pieces out;
    kxtable::JsonReport json(out.Sink(), kxtable::Operation::kRepair, "t");
    json.RecordCount(3);
    for (const Call& call : c.calls) {
      if (!call.set.empty()) {
        json.StampSet({.record = call.record,
                       .stamp = call.set,
                       .original = "s",
                       .reason = call.reason});
      } else {
        json.Finding({.record = call.record,
                      .test = call.test,
                      .stamp = "s",
                      .previous = call.previous});
      }
    }
    json.End({.operation = kxtable::Operation::kRepair, .table = "t"});
    const std::string text = out.Text();
    const size_t from = text.find("\"records\":[") + 11;
    EXPECT_EQ(text.substr(from, text.find("],\"finding_count\"") - from),
              c.records);
  }
}

// A repair's calls as the pass makes them, and some no pass makes: every
// record with something to say gets one element, in order, and the tail
// says what became of the output.
TEST(JsonReportTest, RecordsComeFromTheCallsAndTheTailFromTheReport) {
  Pieces out;
  kxtable::JsonReport json(out.Sink(), kxtable::Operation::kRepair, "t.kxt");
  kxtable::TableReport report{.operation = kxtable::Operation::kRepair,
                              .table = "t.kxt"};
  auto note = [&](int64_t record, RecordClass kind, bool left_out,
                  std::string_view stamp = {}) {
    json.Record(
        {.record = record, .kind = kind, .left_out = left_out, .stamp = stamp});
  };
  auto finding = [&](int64_t record, StampTest test) {
    const kxcheck::Finding f{.record = record,
                             .test = test,
                             .stamp = "2024-13-01 08:00:00",
                             .previous = "2024-03-01 08:00:00"};
    json.Finding(f);
    report.AddFinding(f);
  };
  json.RecordCount(6);
  note(1, RecordClass::kExamined, false, "2024-03-01 08:00:00");
  finding(2, StampTest::kOrder);
  finding(2, StampTest::kMonth);
  json.StampSet({.record = 2,
                 .stamp = "2024-03-01 08:00:00",
                 .original = "2024-13-01 08:00:00",
                 .reason = kxcheck::StampReason::kFailedTest});
  note(2, RecordClass::kExamined, false, "2024-13-01 08:00:00");
  note(3, RecordClass::kNull, true);
  // Examined and not written: its append failed.
  note(4, RecordClass::kExamined, true, "2024-03-01 08:00:04");
  // A finding whose record is never noted is ended by the next record.
  finding(5, StampTest::kDay);
  // A stamp replaced without a finding (the restoring rule's spike) brings
  // the stamp as read itself.
  json.StampSet({.record = 6,
                 .stamp = "2024-03-01 08:00:06",
                 .original = "2024-03-01 09:00:06",
                 .reason = kxcheck::StampReason::kSpike});
  json.Spread({.source = 1,
               .stamp = "2024-03-01 08:00:00",
               .first = 2,
               .last = 6,
               .records = 4});
  note(6, RecordClass::kExamined, false);
  // Written, then removed as a whole.
  report.outcome = kxcheck::Outcome::kFailed;
  report.output_begun = true;
  report.has_totals = true;
  report.totals.output = "t_REPAIRED.kxt";
  report.totals.written = 4;
  json.End(report);

  ASSERT_EQ(out.Text().back(), '\n');
  const nlohmann::json line = nlohmann::json::parse(out.Text());
  EXPECT_EQ(line["records"], nlohmann::json::parse(R"([
    {"record": 2, "stamp": "2024-13-01 08:00:00",
     "findings": [{"test": "order", "previous": "2024-03-01 08:00:00"},
                  {"test": "month"}],
     "set": "2024-03-01 08:00:00", "reason": "failed test"},
    {"record": 3, "class": "null", "left_out": true},
    {"record": 4, "stamp": "2024-03-01 08:00:04", "left_out": true},
    {"record": 5, "stamp": "2024-13-01 08:00:00",
     "findings": [{"test": "day"}]},
    {"record": 6, "stamp": "2024-03-01 09:00:06",
     "set": "2024-03-01 08:00:06", "reason": "spike"}])"));
  EXPECT_EQ(line["spread"], nlohmann::json::parse(R"([{"first": 2, "last": 6,
      "records": 4, "stamp": "2024-03-01 08:00:00", "source": 1}])"));
  EXPECT_EQ(line["finding_count"], 3);
  EXPECT_EQ(line["findings_by_test"]["order"], 1);
  EXPECT_EQ(line["records_written"], 0);
  EXPECT_EQ(line["output_removed"], true);
  EXPECT_EQ(line["exit_status"], 2);
}

}  // namespace
