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
