// kxtable's one way of writing JSON: values written straight to a sink as
// they are made, so that a report of millions of records never sits in
// memory and no text is put together from pieces of other documents.
//
// Texts are bytes (from tables and file names). They are first made text as
// export makes cells (bytes that are not valid UTF-8, control characters
// other than tab, CR and LF, and a backslash that would read as such an
// escape become \xHH), then escaped for JSON by nlohmann's serializer, so the
// output is always valid JSON whatever the bytes. UnescapeCell reads the
// bytes back.
//
// Each top-level value is one line (JSON Lines): when it is complete the
// writer adds a line end and hands what it holds to the sink. Otherwise the
// sink gets the text in pieces of kChunk bytes.
//
//   JsonWriter json(sink);
//   json.BeginObject();
//   json.Key("table");
//   json.String(path);
//   json.Key("records");
//   json.BeginArray();
//   json.Number(17);
//   json.EndArray();
//   json.EndObject();  // {"table":"t.kxt","records":[17]} and a line end
#ifndef KXCHECK_TOOLS_KXTABLE_JSON_WRITER_H_
#define KXCHECK_TOOLS_KXTABLE_JSON_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kxtable {

class JsonWriter {
 public:
  // Takes the text in order; may throw, which the writer passes on.
  using Sink = std::function<void(std::string_view text)>;
  static constexpr size_t kChunk = 64 * 1024;

  explicit JsonWriter(Sink sink);
  ~JsonWriter();
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  // A member's name; its value is the next value written.
  void Key(std::string_view name);
  void String(std::string_view bytes);
  void Number(int64_t value);
  void Bool(bool value);
  void Null();

  // Hands everything written so far to the sink.
  void Flush();

  // Pieces of a value whose shape the caller keeps itself, as a report does
  // for its element per record: text that is already JSON, a number, a
  // string's JSON form. They go into the buffer as they are, with no comma
  // added and nothing checked, so they belong inside a BeginObject() ...
  // EndObject() (or array) whose contents are all written this way.
  void RawText(std::string_view json) { Put(json); }
  void RawNumber(int64_t value);
  void RawString(std::string_view bytes) { PutString(bytes); }

  // What String(bytes) writes, quotes included; valid until the next call
  // that writes or quotes a string.
  std::string_view Quoted(std::string_view bytes);

 private:
  // The comma before a value (or a key) that is not the first in its
  // container.
  void BeforeValue();
  // After a whole value: a top-level one ends its line and is handed over.
  void AfterValue();
  void PutString(std::string_view bytes);
  // The JSON form of bytes that need escaping.
  const std::string& Escaped(std::string_view bytes);

  // Text into the buffer, which goes to the sink whenever it is full.
  void Put(char c) {
    if (used_ == kChunk) Flush();
    buffer_[used_++] = c;
  }
  void Put(std::string_view text) {
    if (text.size() <= kChunk - used_) {
      std::memcpy(buffer_.get() + used_, text.data(), text.size());
      used_ += text.size();
    } else {
      PutLong(text);
    }
  }
  void PutLong(std::string_view text);

  Sink sink_;
  std::unique_ptr<char[]> buffer_;
  size_t used_ = 0;
  // One entry per open container: whether a value has been written in it.
  std::vector<char> filled_;
  bool after_key_ = false;

  // nlohmann's serializer and the value it writes, made once.
  struct Escaper;
  std::unique_ptr<Escaper> escaper_;
  // The last texts that needed escaping and what they became: a repair
  // gives one stamp to long runs of records.
  std::string last_bytes_;
  std::string last_json_;
  // What Quoted() made of plain bytes.
  std::string quoted_;
};

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_JSON_WRITER_H_
