#include "core/packed_stamp.h"

namespace kxcheck {

static_assert(
    [] {
      for (size_t i = 0; i < kAllStampTests.size(); ++i) {
        if (static_cast<size_t>(kAllStampTests[i]) != i) return false;
      }
      return true;
    }(),
    "the bits of PackedStamp::FailedFieldTests are numbered as "
    "kAllStampTests");

void PackedStamp::SetStamp(std::string_view text) {
  if (text.size() == 19 && text[10] == ' ') {
    SetStamp(text.data(), text.data() + 11);
  } else {
    packed_ = false;
    front_known_ = false;
    text_.assign(text);
  }
}

std::string_view PackedStamp::StampText(char (&room)[19]) const {
  if (!packed_) return text_;
  for (int i = 1; i <= 19; ++i) room[i - 1] = static_cast<char>(Character(i));
  return {room, 19};
}

bool PackedStamp::OrderFailsAsText(const PackedStamp& previous) const {
  char room[19];
  char previous_room[19];
  return kxcheck::OrderFails(StampText(room),
                             previous.StampText(previous_room));
}

uint32_t PackedStamp::FailedFieldTestsAsText(std::string_view year) const {
  char room[19];
  const std::string_view stamp = StampText(room);
  uint32_t failed = 0;
  for (StampTest test : kAllStampTests) {
    if (test != StampTest::kOrder && StampTestFails(test, stamp, {}, year)) {
      failed |= Bit(test);
    }
  }
  return failed;
}

}  // namespace kxcheck
