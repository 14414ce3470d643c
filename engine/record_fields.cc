// The working record and its fields (docs/FORMAT.md: the record buffer).
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "engine/table_impl.h"

namespace kalvex {

using internal::Fail;

namespace {

bool AllZero(std::string_view s, size_t from, size_t n) {
  return s.substr(from, n).find_first_not_of('\0') == std::string_view::npos;
}

// Where field 2 or a payload field lies in a record of the table `t`, as
// {offset, width}; `call` fails for a field the table does not have.
std::pair<size_t, size_t> FieldPlace(const auto& t, int field,
                                     const char* call) {
  if (field == 2) return {kTimeOffset, kTimeBytes};
  if (field >= 3 && static_cast<size_t>(field - 3) < t.layout.payload.size()) {
    size_t offset = kPayloadOffset;
    for (int i = 0; i < field - 3; ++i) offset += t.layout.payload[i].width;
    return {offset, t.layout.payload[field - 3].width};
  }
  Fail(t.kxt_path, std::string(call) + ": no field " + std::to_string(field) +
                       " (the table has fields 1 to " +
                       std::to_string(2 + t.layout.payload.size()) + ")");
}

}  // namespace

void RecordTable::SetRecordBufferSlow(std::string_view bytes) {
  Impl& t = *impl_;
  t.RequireOpen("RecordBuffer");
  if (bytes.size() != t.reclen)
    Fail(t.kxt_path, "RecordBuffer: " + std::to_string(bytes.size()) +
                         " bytes given, but the records are " +
                         std::to_string(t.reclen) + " bytes long");
  // The bytes may be this table's own working record.
  std::memmove(cursor_.buffer.data(), bytes.data(), bytes.size());
  cursor_.record = cursor_.buffer.data();
}

std::string RecordTable::FieldGet(int field) const {
  const Impl& t = *impl_;
  t.RequireOpen("FieldGet");
  const std::string_view b = RecordBuffer();
  if (field == 1) {
    if (AllZero(b, kDateOffset, kDateBytes)) return {};
    char text[kDateTextBytes];
    text[0] = CenturyHigh(b[kCenturyOffset]);
    text[1] = CenturyLow(b[kCenturyOffset]);
    std::memcpy(text + 2, b.data() + kYearOffset, kDateBytes - 1);
    return std::string(text, kDateTextBytes);
  }
  const auto [offset, width] = FieldPlace(t, field, "FieldGet");
  if (AllZero(b, offset, width)) return {};
  return std::string(b.substr(offset, width));
}

void RecordTable::FieldPutSlow(int field, std::string_view text) {
  Impl& t = *impl_;
  t.RequireOpen("FieldPut");
  t.Materialize();
  std::string& b = cursor_.buffer;
  auto too_long = [&](size_t width) {
    Fail(t.kxt_path, "FieldPut: field " + std::to_string(field) + " holds " +
                         std::to_string(width) + " characters, " +
                         std::to_string(text.size()) + " given");
  };
  if (field == 1) {
    if (text.size() > kDateTextBytes) too_long(kDateTextBytes);
    // A missing second character is nibble 0.
    char century[2] = {'0', '0'};
    for (size_t i = 0; i < 2 && i < text.size(); ++i) {
      if (!IsCenturyCharacter(text[i]))
        Fail(t.kxt_path,
             "FieldPut: date character " + std::to_string(i + 1) + " (code " +
                 std::to_string(static_cast<unsigned char>(text[i])) +
                 ") is outside \"0\" to \"?\"");
      century[i] = text[i];
    }
    std::memset(b.data() + kDateOffset, 0, kDateBytes);
    if (!text.empty()) b[kCenturyOffset] = PackCentury(century[0], century[1]);
    if (text.size() > 2)
      std::memcpy(b.data() + kYearOffset, text.data() + 2, text.size() - 2);
    return;
  }
  const auto [offset, width] = FieldPlace(t, field, "FieldPut");
  if (text.size() > width) too_long(width);
  std::memset(b.data() + offset, 0, width);
  std::memcpy(b.data() + offset, text.data(), text.size());
}

}  // namespace kalvex
