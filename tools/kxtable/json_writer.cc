#include "tools/kxtable/json_writer.h"

#include <array>
#include <cassert>
#include <charconv>
#include <cstring>
#include <nlohmann/json.hpp>
#include <utility>

#include "tools/kxtable/csv_codec.h"

namespace kxtable {

namespace {

// Whether a JSON string holds `bytes` as they are: printable ASCII other than
// the quote and the backslash. A well-formed stamp is nothing else. Eight
// bytes are looked at a time (the usual "has a zero byte" test, Anderson's
// bit twiddling hacks): a report of a repair writes millions of stamps.
constexpr uint64_t kOnes = 0x0101010101010101ULL;
constexpr uint64_t kHighs = 0x8080808080808080ULL;

// Not zero when some byte of `word` is zero.
constexpr uint64_t ZeroBytes(uint64_t word) {
  return (word - kOnes) & ~word & kHighs;
}

bool PlainWord(uint64_t word) {
  if (word & kHighs) return false;                     // 0x80 and above
  if ((word + kOnes) & kHighs) return false;           // 0x7f
  if (((word - 0x20 * kOnes) & kHighs)) return false;  // below 0x20
  return !ZeroBytes(word ^ ('"' * kOnes)) && !ZeroBytes(word ^ ('\\' * kOnes));
}

bool PlainByte(char c) {
  return c >= 0x20 && c <= 0x7e && c != '"' && c != '\\';
}

bool Plain(std::string_view bytes) {
  size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes.data() + i, 8);
    if (!PlainWord(word)) return false;
  }
  for (; i < bytes.size(); ++i) {
    if (!PlainByte(bytes[i])) return false;
  }
  return true;
}

}  // namespace

// A string value and the serializer that writes it into `text`, quoted and
// escaped, as nlohmann::json::dump does. The cell text handed over is valid
// UTF-8, so the serializer never meets bytes it would refuse.
struct JsonWriter::Escaper {
  using Json = nlohmann::json;
  Escaper()
      : value(std::string()),
        serializer(
            std::make_shared<
                nlohmann::detail::output_string_adapter<char, std::string>>(
                text),
            ' ') {}

  std::string_view Escape(std::string_view cell) {
    text.clear();
    value.get_ref<std::string&>().assign(cell);
    serializer.dump(value, /*pretty_print=*/false, /*ensure_ascii=*/false,
                    /*indent_step=*/0);
    return text;
  }

  std::string text;
  Json value;
  nlohmann::detail::serializer<Json> serializer;
  std::string cell;
};

JsonWriter::JsonWriter(Sink sink)
    : sink_(std::move(sink)),
      buffer_(std::make_unique<char[]>(kChunk)),
      escaper_(std::make_unique<Escaper>()) {}

JsonWriter::~JsonWriter() = default;

void JsonWriter::BeforeValue() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!filled_.empty()) {
    if (filled_.back()) Put(',');
    filled_.back() = true;
  }
}

void JsonWriter::AfterValue() {
  if (filled_.empty()) {
    Put('\n');
    Flush();
  }
}

void JsonWriter::BeginObject() {
  BeforeValue();
  Put('{');
  filled_.push_back(false);
}

void JsonWriter::EndObject() {
  assert(!filled_.empty() && !after_key_);
  filled_.pop_back();
  Put('}');
  AfterValue();
}

void JsonWriter::BeginArray() {
  BeforeValue();
  Put('[');
  filled_.push_back(false);
}

void JsonWriter::EndArray() {
  assert(!filled_.empty() && !after_key_);
  filled_.pop_back();
  Put(']');
  AfterValue();
}

void JsonWriter::Key(std::string_view name) {
  assert(!filled_.empty() && !after_key_);
  // Names are the report's own ASCII words (or a test's name): no escaping.
  assert(Plain(name));
  BeforeValue();
  if (name.size() + 3 <= kChunk - used_) {
    char* to = buffer_.get() + used_;
    to[0] = '"';
    std::memcpy(to + 1, name.data(), name.size());
    to[name.size() + 1] = '"';
    to[name.size() + 2] = ':';
    used_ += name.size() + 3;
  } else {
    PutString(name);
    Put(':');
  }
  after_key_ = true;
}

void JsonWriter::String(std::string_view bytes) {
  BeforeValue();
  PutString(bytes);
  AfterValue();
}

void JsonWriter::Number(int64_t value) {
  BeforeValue();
  RawNumber(value);
  AfterValue();
}

void JsonWriter::RawNumber(int64_t value) {
  constexpr size_t kDigits = 20;  // the longest int64_t, sign included
  if (kDigits <= kChunk - used_) {
    char* to = buffer_.get() + used_;
    used_ +=
        static_cast<size_t>(std::to_chars(to, to + kDigits, value).ptr - to);
    return;
  }
  char digits[kDigits];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  Put(std::string_view(digits, static_cast<size_t>(end - digits)));
}

void JsonWriter::Bool(bool value) {
  BeforeValue();
  Put(value ? "true" : "false");
  AfterValue();
}

void JsonWriter::Null() {
  BeforeValue();
  Put("null");
  AfterValue();
}

void JsonWriter::Flush() {
  if (used_ == 0) return;
  // Emptied first: a sink that throws leaves nothing to hand over twice.
  const size_t used = used_;
  used_ = 0;
  sink_(std::string_view(buffer_.get(), used));
}

void JsonWriter::PutLong(std::string_view text) {
  Flush();
  if (text.size() <= kChunk) {
    Put(text);
  } else {
    sink_(text);
  }
}

void JsonWriter::PutString(std::string_view bytes) {
  if (Plain(bytes)) {
    if (bytes.size() + 2 <= kChunk - used_) {
      char* to = buffer_.get() + used_;
      to[0] = '"';
      std::memcpy(to + 1, bytes.data(), bytes.size());
      to[bytes.size() + 1] = '"';
      used_ += bytes.size() + 2;
    } else {
      Put('"');
      Put(bytes);
      Put('"');
    }
    return;
  }
  Put(Escaped(bytes));
}

std::string_view JsonWriter::Quoted(std::string_view bytes) {
  if (!Plain(bytes)) return Escaped(bytes);
  quoted_.assign(1, '"');
  quoted_.append(bytes);
  quoted_ += '"';
  return quoted_;
}

const std::string& JsonWriter::Escaped(std::string_view bytes) {
  if (bytes != last_bytes_) {
    std::string& cell = escaper_->cell;
    cell.clear();
    AppendEscapedCell(cell, bytes);
    last_json_.assign(escaper_->Escape(cell));
    last_bytes_.assign(bytes);
  }
  return last_json_;
}

}  // namespace kxtable
