// The bytes of the fixed part of every record (docs/FORMAT.md: the record
// buffer), named once for the engine and for everything that builds records
// by hand. The date and the time are text, except that the century's two
// digits share byte 0, one per nibble, high first: characters "0" to "?"
// (codes 0x30 to 0x3F) stand for the nibbles 0 to 15.
#ifndef KXCHECK_ENGINE_RECORD_CODEC_H_
#define KXCHECK_ENGINE_RECORD_CODEC_H_

#include <cstddef>

namespace kalvex {

inline constexpr int kDateOffset = 0;  // 9 bytes: century byte + "YY-MM-DD"
inline constexpr int kDateBytes = 9;
inline constexpr int kTimeOffset = 9;  // 8 bytes: "HH:MM:SS"
inline constexpr int kTimeBytes = 8;
inline constexpr int kPayloadOffset = 17;
// Field 1 as text: the two century characters and "YY-MM-DD".
inline constexpr size_t kDateTextBytes = 10;

// Where the two digits of each part of a stamp start, and where a
// well-formed record has its separators: "-" in the date, ":" in the time.
inline constexpr int kCenturyOffset = 0;
inline constexpr int kYearOffset = 1;
inline constexpr int kYearMonthSeparator = 3;
inline constexpr int kMonthOffset = 4;
inline constexpr int kMonthDaySeparator = 6;
inline constexpr int kDayOffset = 7;
inline constexpr int kHourOffset = 9;
inline constexpr int kHourMinuteSeparator = 11;
inline constexpr int kMinuteOffset = 12;
inline constexpr int kMinuteSecondSeparator = 14;
inline constexpr int kSecondOffset = 15;
inline constexpr int kSeparatorOffsets[4] = {
    kYearMonthSeparator, kMonthDaySeparator, kHourMinuteSeparator,
    kMinuteSecondSeparator};
inline constexpr char kDateSeparator = '-';
inline constexpr char kTimeSeparator = ':';

// The separator a well-formed record has at `offset`, one of
// kSeparatorOffsets.
constexpr char SeparatorAt(int offset) {
  return offset < kTimeOffset ? kDateSeparator : kTimeSeparator;
}

// Whether `c` can be held in a nibble of the century byte.
constexpr bool IsCenturyCharacter(char c) {
  return static_cast<unsigned char>(c) - 0x30u <= 15u;
}

// The century byte for two characters that IsCenturyCharacter accepts.
constexpr char PackCentury(char high, char low) {
  return static_cast<char>((static_cast<unsigned char>(high) - 0x30u) << 4 |
                           (static_cast<unsigned char>(low) - 0x30u));
}

// The two characters a century byte holds, in the order of the text.
constexpr char CenturyHigh(char byte) {
  return static_cast<char>(0x30 + (static_cast<unsigned char>(byte) >> 4));
}
constexpr char CenturyLow(char byte) {
  return static_cast<char>(0x30 + (static_cast<unsigned char>(byte) & 0x0F));
}

static_assert(PackCentury('2', '0') == 0x20 && PackCentury('?', '0') == '\xF0');
static_assert(CenturyHigh('\x19') == '1' && CenturyLow('\x19') == '9');

}  // namespace kalvex

#endif  // KXCHECK_ENGINE_RECORD_CODEC_H_
