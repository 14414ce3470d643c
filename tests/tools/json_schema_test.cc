// docs/JSON.md is the contract of kxtable's JSON lines: each command's line
// on the table of the document's examples is the example, and every member
// its tables name appears in an example.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/tools/support/tool_test_support.h"

namespace {

using Json = nlohmann::ordered_json;

struct Document {
  std::string text;
  std::map<std::string, Json> examples;  // by command
  std::vector<Json> parts;               // examples of one element
};

Document ReadDocument() {
  Document doc;
  doc.text = kxtest::ReadFile(KX_SOURCE_DIR "/docs/JSON.md");
  const std::string open = "```json\n";
  for (size_t at = doc.text.find(open); at != std::string::npos;
       at = doc.text.find(open, at)) {
    at += open.size();
    const size_t end = doc.text.find("```", at);
    const Json example = Json::parse(doc.text.substr(at, end - at));
    if (example.contains("command")) {
      doc.examples[example.at("command").get<std::string>()] = example;
    } else {
      doc.parts.push_back(example);
    }
    at = end;
  }
  return doc;
}

// Every member name in the value, at any depth.
void CollectKeys(const Json& value, std::set<std::string>& keys) {
  for (const auto& [key, member] : value.items()) {
    if (value.is_object()) keys.insert(key);
    if (member.is_structured()) CollectKeys(member, keys);
  }
}

// The file sizes follow the engine's format, not this contract.
Json WithoutSizes(Json line) {
  if (line.contains("files")) {
    for (Json& file : line["files"]) file["size"] = nullptr;
  }
  return line;
}

class JsonSchemaTest : public kxtest::KxtableTest {
 protected:
  // The table of the examples: a duplicate, a null, a deleted and a
  // corrupted record, a bad day and a stamp out of order.
  void SetUp() override {
    KxtableTest::SetUp();
    auto line = [](const std::string& stamp, bool deleted = false) {
      return (deleted ? "D " : "- ") +
             kxtest::Hex(kxtest::EngineRecord(stamp, "21.5", 40)) + "\n";
    };
    const std::string dump =
        line("2024-03-01 08:00:00") + line("2024-03-01 08:00:10") +
        line("2024-03-01 08:00:10") + "- " + std::string(80, '0') + "\n" +
        line("2024-03-01 08:00:30", true) + line("2024/03/01 08:00:40") +
        line("2024-03-41 08:00:50") + line("2024-03-01 07:01:00") +
        line("2024-03-01 08:01:10");
    ASSERT_EQ(Kxtable("load line4.kxt", dump).code, 0);
  }
};

TEST_F(JsonSchemaTest, EachCommandWritesTheDocumentsExample) {
  const Document doc = ReadDocument();
  struct Case {
    std::string command;
    std::string args;
  };
  const Case cases[] = {
      {.command = "check", .args = "check --json line4.kxt"},
      {.command = "repair", .args = "repair --json line4.kxt"},
      {.command = "info", .args = "info --json line4.kxt"},
  };
  ASSERT_EQ(doc.examples.size(), std::size(cases));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const kxtest::Result r = Kxtable(c.args);
    ASSERT_EQ(r.out.find('\n'), r.out.size() - 1) << "one line: " << r.out;
    const Json real = Json::parse(r.out);
    EXPECT_EQ(real.begin().key(), "schema");
    EXPECT_EQ(real["exit_status"], r.code);
    EXPECT_EQ(WithoutSizes(real).dump(1),
              WithoutSizes(doc.examples.at(c.command)).dump(1));
  }
}

TEST_F(JsonSchemaTest, EveryMemberTheTablesNameIsInAnExample) {
  const Document doc = ReadDocument();
  std::set<std::string> in_examples;
  for (const auto& [command, example] : doc.examples) {
    CollectKeys(example, in_examples);
  }
  for (const Json& part : doc.parts) CollectKeys(part, in_examples);
  // The first cell of a table row names members: "| `name` |" or
  // "| `first`, `second` |".
  const std::regex row(R"(\n\| (`[a-z_]+`(?:, `[a-z_]+`)*) \|)");
  const std::regex name("`([a-z_]+)`");
  size_t named = 0;
  for (auto it = std::sregex_iterator(doc.text.begin(), doc.text.end(), row);
       it != std::sregex_iterator(); ++it) {
    const std::string cell = (*it)[1];
    for (auto n = std::sregex_iterator(cell.begin(), cell.end(), name);
         n != std::sregex_iterator(); ++n) {
      EXPECT_TRUE(in_examples.count((*n)[1])) << (*n)[1];
      ++named;
    }
  }
  EXPECT_GT(named, 30u);
}

}  // namespace
