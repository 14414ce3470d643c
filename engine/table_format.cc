#include "engine/table_format.h"

#include <zlib.h>

#include <cstring>
#include <limits>
#include <utility>

namespace kalvex::format {

namespace {

const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

}  // namespace

uint32_t Checksum(const void* data, size_t size) {
  return static_cast<uint32_t>(
      crc32(0L, static_cast<const Bytef*>(data), static_cast<uInt>(size)));
}

std::string LayoutProblem(const TableLayout& layout) {
  if (layout.payload.size() > kMaxPayloadFields)
    return "too many payload fields (" + std::to_string(layout.payload.size()) +
           ")";
  for (size_t i = 0; i < layout.payload.size(); ++i) {
    const FieldDef& f = layout.payload[i];
    if (f.name.empty() || f.name.size() > 255)
      return "payload field " + std::to_string(i + 1) +
             " needs a name of 1 to 255 bytes";
    if (f.width == 0)
      return "payload field " + std::to_string(i + 1) + " has width 0";
  }
  if (layout.RecordLength() > kMaxRecordLength)
    return "record length " + std::to_string(layout.RecordLength()) +
           " exceeds " + std::to_string(kMaxRecordLength);
  return {};
}

std::string EncodeDefinition(const TableLayout& layout) {
  std::string out(kDefinitionMagic, 4);
  PutU16(out, kFormatVersion);
  PutU16(out, static_cast<uint16_t>(layout.payload.size()));
  PutU32(out, layout.RecordLength());
  for (const FieldDef& f : layout.payload) {
    out.push_back(static_cast<char>(f.name.size()));
    out += f.name;
    PutU32(out, f.width);
  }
  PutU32(out, Checksum(out.data(), out.size()));
  return out;
}

std::string DecodeDefinition(const std::string& bytes, TableLayout& layout) {
  layout.payload.clear();
  if (bytes.size() > kMaxDefinitionBytes)
    return "definition is longer than " + std::to_string(kMaxDefinitionBytes) +
           " bytes";
  if (bytes.size() < kDefinitionFixedBytes + 4)
    return "definition is only " + std::to_string(bytes.size()) +
           " bytes long, too short for its header";
  if (std::memcmp(bytes.data(), kDefinitionMagic, 4) != 0)
    return "not a Kalvex table definition (bad magic)";
  const unsigned char* p = Bytes(bytes);
  uint16_t version = GetU16(p + 4);
  if (version != kFormatVersion)
    return "unsupported format version " + std::to_string(version);
  uint32_t stored = GetU32(p + bytes.size() - 4);
  uint32_t actual = Checksum(p, bytes.size() - 4);
  if (stored != actual) return "definition checksum mismatch";
  uint16_t count = GetU16(p + 6);
  uint32_t record_length = GetU32(p + 8);
  if (count > kMaxPayloadFields)
    return "too many payload fields (" + std::to_string(count) + ")";
  size_t pos = kDefinitionFixedBytes;
  size_t end = bytes.size() - 4;
  uint64_t total = kPayloadOffset;
  for (uint16_t i = 0; i < count; ++i) {
    if (pos + 1 > end) return "field list is cut short";
    size_t name_length = p[pos];
    if (name_length == 0)
      return "payload field " + std::to_string(i + 1) + " has no name";
    if (pos + 1 + name_length + 4 > end) return "field list is cut short";
    FieldDef f;
    f.name.assign(bytes, pos + 1, name_length);
    f.width = GetU32(p + pos + 1 + name_length);
    if (f.width == 0)
      return "payload field " + std::to_string(i + 1) + " has width 0";
    total += f.width;
    if (total > kMaxRecordLength)
      return "record length exceeds " + std::to_string(kMaxRecordLength);
    pos += 1 + name_length + 4;
    layout.payload.push_back(std::move(f));
  }
  if (pos != end) return "unexpected bytes after the field list";
  if (record_length != total)
    return "record length " + std::to_string(record_length) +
           " does not match the fields (" + std::to_string(total) + ")";
  return {};
}

std::string EncodeFileHeader(const char* magic, uint32_t record_length) {
  std::string out(magic, 4);
  PutU16(out, kFormatVersion);
  PutU16(out, 0);
  PutU32(out, record_length);
  PutU32(out, Checksum(out.data(), out.size()));
  return out;
}

std::string CheckFileHeader(const unsigned char* p, const char* magic,
                            uint32_t record_length) {
  if (std::memcmp(p, magic, 4) != 0) return "bad magic";
  if (GetU32(p + 12) != Checksum(p, 12)) return "header checksum mismatch";
  uint16_t version = GetU16(p + 4);
  if (version != kFormatVersion)
    return "unsupported format version " + std::to_string(version);
  uint32_t stored_length = GetU32(p + 8);
  if (stored_length != record_length)
    return "header gives record length " + std::to_string(stored_length) +
           ", the definition " + std::to_string(record_length);
  return {};
}

std::string EncodeIndex(uint32_t count, uint32_t record_length,
                        uint16_t flags) {
  std::string out(kIndexMagic, 4);
  PutU16(out, kFormatVersion);
  PutU16(out, flags);
  PutU32(out, count);
  PutU32(out, record_length);
  PutU32(out, Checksum(out.data(), out.size()));
  return out;
}

std::string DecodeIndex(const std::string& bytes, uint32_t record_length,
                        uint32_t& count, uint16_t& flags) {
  if (bytes.size() != kIndexBytes)
    return "is " + std::to_string(bytes.size()) + " bytes long instead of " +
           std::to_string(kIndexBytes);
  const unsigned char* p = Bytes(bytes);
  if (std::memcmp(p, kIndexMagic, 4) != 0) return "has a bad magic";
  if (GetU32(p + 16) != Checksum(p, 16)) return "has a checksum mismatch";
  uint16_t version = GetU16(p + 4);
  if (version != kFormatVersion)
    return "has unsupported format version " + std::to_string(version);
  uint32_t stored_length = GetU32(p + 12);
  if (stored_length != record_length)
    return "gives record length " + std::to_string(stored_length) +
           ", the definition " + std::to_string(record_length);
  flags = GetU16(p + 6);
  if ((flags & ~kIndexIncomplete) != 0)
    return "has unknown flags " + std::to_string(flags);
  count = GetU32(p + 8);
  if (count > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
    return "gives an impossible record count " + std::to_string(count);
  return {};
}

}  // namespace kalvex::format
