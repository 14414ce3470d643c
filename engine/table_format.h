// The bytes of the four table files (docs/FORMAT.md explains them; the
// encodings are in table_format.cc). Shared by the engine and by tools and
// tests that build damaged files on purpose.
#ifndef KXCHECK_ENGINE_TABLE_FORMAT_H_
#define KXCHECK_ENGINE_TABLE_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/record_table.h"

namespace kalvex::format {

inline constexpr char kDefinitionMagic[] = "KXTD";
inline constexpr char kDataMagic[] = "KXDR";
inline constexpr char kAttrMagic[] = "KXAT";
inline constexpr char kIndexMagic[] = "KXIX";
inline constexpr uint16_t kFormatVersion = 1;

// Definition: magic, version, field count, record length, then the fields.
inline constexpr size_t kDefinitionFixedBytes = 12;
inline constexpr size_t kMaxDefinitionBytes = 1 << 20;
inline constexpr size_t kMaxPayloadFields = 4096;
inline constexpr uint32_t kMaxRecordLength = 65536;
// Data and attribute files start with a header of this size.
inline constexpr size_t kFileHeaderBytes = 16;
// The index file is exactly this long.
inline constexpr size_t kIndexBytes = 20;
// Appended records are written this many bytes at a time.
inline constexpr size_t kChunkBytes = 1 << 17;
// Records are read this many bytes at a time, one system call each.
inline constexpr size_t kDataReadBytes = 1 << 18;
// Deletion marks, one byte per record, are read this many at a time: the
// marks of many runs of records.
inline constexpr size_t kAttrReadBytes = 1 << 15;

inline void PutU16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}
inline void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
inline uint16_t GetU16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetU32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// zlib's CRC-32.
uint32_t Checksum(const void* data, size_t size);

// Whether a path ends in ".kxt", in any letter case.
inline bool HasTableExtension(const std::string& path) {
  if (path.size() < 4 || path[path.size() - 4] != '.') return false;
  return (path[path.size() - 3] | 0x20) == 'k' &&
         (path[path.size() - 2] | 0x20) == 'x' &&
         (path[path.size() - 1] | 0x20) == 't';
}

// "" for a layout a definition can hold, or what is wrong with it.
std::string LayoutProblem(const TableLayout& layout);
std::string EncodeDefinition(const TableLayout& layout);
// Fills layout; returns "" or the reason the bytes are not a definition.
std::string DecodeDefinition(const std::string& bytes, TableLayout& layout);
std::string EncodeFileHeader(const char* magic, uint32_t record_length);
// p points at kFileHeaderBytes bytes; returns "" or what is wrong.
std::string CheckFileHeader(const unsigned char* p, const char* magic,
                            uint32_t record_length);
// Index flags (the u16 at offset 6).
// The table is being written: set when an appender creates the table, cleared
// only by the Close that commits it. A table that still carries it was never
// finished.
inline constexpr uint16_t kIndexIncomplete = 1;

std::string EncodeIndex(uint32_t count, uint32_t record_length,
                        uint16_t flags = 0);
// Sets count and flags; returns "" or what is wrong (a phrase after "the
// index file").
std::string DecodeIndex(const std::string& bytes, uint32_t record_length,
                        uint32_t& count, uint16_t& flags);

}  // namespace kalvex::format

#endif  // KXCHECK_ENGINE_TABLE_FORMAT_H_
