#include "core/results_log.h"

#include <algorithm>

namespace kxcheck {

std::string LogLine(std::string_view line) {
  std::string out(line);
  std::ranges::replace(out, '\0', '?');
  out += "\r\n";
  return out;
}

void ResultsLog::AddResult(std::string_view line) {
  if (length_ > kCap) return;
  AddResultAlways(line);
}

void ResultsLog::AddResultAlways(std::string_view line) {
  // Room for a log that reaches the cap, taken once: growing step by step
  // would copy the text each time into fresh memory.
  constexpr size_t kFirstCapacity = 80 << 10;
  if (text_.capacity() < kFirstCapacity) text_.reserve(kFirstCapacity);
  std::string added = LogLine(line);
  text_ += added;
  length_ += CountCharacters(added);
  if (observer_) observer_->OnAppend(added);
}

void ResultsLog::Clear() {
  text_.clear();
  length_ = 0;
  if (observer_) observer_->OnClear();
}

std::string BytesToText(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char b : bytes) {
    if (b < 0x80) {
      out += static_cast<char>(b);
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

int64_t CountCharacters(std::string_view utf8) {
  return std::ranges::count_if(
      utf8, [](unsigned char b) { return (b & 0xC0) != 0x80; });
}

}  // namespace kxcheck
