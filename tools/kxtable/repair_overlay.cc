#include "tools/kxtable/repair_overlay.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>

#include "engine/record_codec.h"

namespace kxtable {

namespace {

bool AllZero(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(),
                     [](char c) { return c == '\0'; });
}

std::string_view Payload(std::string_view record) {
  return record.size() > kalvex::kPayloadOffset
             ? record.substr(kalvex::kPayloadOffset)
             : std::string_view();
}

}  // namespace

std::string_view RecordStamp(std::string_view record, char (&room)[19]) {
  if (record.size() < kalvex::kPayloadOffset) return {};
  static_assert(kalvex::kDateOffset == 0 && kalvex::kDateBytes == 9 &&
                kalvex::kTimeOffset == 9 && kalvex::kTimeBytes == 8);
  // The usual record: a date and a time with bytes that are not all zero,
  // both seen in two loads.
  uint64_t date_front, time_word;
  std::memcpy(&date_front, record.data(), 8);
  std::memcpy(&time_word, record.data() + kalvex::kTimeOffset, 8);
  auto put_date = [&] {
    room[0] = kalvex::CenturyHigh(record[kalvex::kCenturyOffset]);
    room[1] = kalvex::CenturyLow(record[kalvex::kCenturyOffset]);
    std::memcpy(room + 2, record.data() + kalvex::kYearOffset,
                kalvex::kDateBytes - 1);
  };
  if ((date_front != 0 || record[8] != '\0') && time_word != 0) {
    put_date();
    room[kalvex::kDateTextBytes] = ' ';
    std::memcpy(room + kalvex::kDateTextBytes + 1, &time_word, 8);
    return {room, 19};
  }
  size_t size = 0;
  if (!AllZero(record.substr(kalvex::kDateOffset, kalvex::kDateBytes))) {
    put_date();
    size = kalvex::kDateTextBytes;
  }
  room[size++] = ' ';
  const std::string_view time =
      record.substr(kalvex::kTimeOffset, kalvex::kTimeBytes);
  if (!AllZero(time)) {
    std::memcpy(room + size, time.data(), time.size());
    size += time.size();
  }
  return {room, size};
}

bool RepairAligner::Fetch() {
  try {
    have_next_ = output_.Next(next_);
  } catch (const std::exception& e) {
    have_next_ = false;
    Stop(std::string("the output cannot be read after its record ") +
         std::to_string(next_number_) + " (" + e.what() + ")");
    return false;
  }
  if (have_next_) ++next_number_;
  return true;
}

void RepairAligner::Add(const kxcheck::RecordNote& note, DamageMap& map) {
  if (!warning_.empty()) return;
  if (!started_) {
    started_ = true;
    if (!Fetch()) return;
  }
  const bool examined = note.kind == kxcheck::RecordClass::kExamined;
  if (have_next_ &&
      damage_map_internal::SameBytes(Payload(note.bytes), Payload(next_))) {
    char read_room[19];
    if (note.bytes.size() >= kalvex::kPayloadOffset &&
        next_.size() >= kalvex::kPayloadOffset &&
        damage_map_internal::SameBytes(note.bytes.data(), next_.data(),
                                       kalvex::kPayloadOffset)) {
      // Most records are written as read: their stamp is made once.
      map.AddUnchanged(note.record, RecordStamp(note.bytes, read_room));
    } else {
      char written_room[19];
      map.AddWritten(note.record, RecordStamp(note.bytes, read_room),
                     RecordStamp(next_, written_room));
    }
    Fetch();
    return;
  }
  if (!examined) return;  // left out by the repair
  if (!have_next_) {
    Stop("the output ends after its record " + std::to_string(next_number_) +
         ", but record " + std::to_string(note.record) +
         " of the table is not one a repair leaves out");
  } else {
    Stop("record " + std::to_string(note.record) +
         " of the table is not in the output, which has other data at its "
         "record " +
         std::to_string(next_number_) +
         ": the output is not this table's repair, or the table changed "
         "since");
  }
}

void RepairAligner::Finish(bool complete) {
  if (!warning_.empty() || !complete) return;
  if (!started_) {
    started_ = true;
    if (!Fetch()) return;
  }
  if (have_next_) {
    Stop("the output has records that are not in the table, from its record " +
         std::to_string(next_number_) + " on");
  }
}

void RestoreOverlay::Add(const kxcheck::RecordNote& note, DamageMap& map) {
  // The records `kxtable repair --restore` keeps by default: the examined
  // ones and the corrupted ones, whose stamps it restores as well.
  if (note.kind == kxcheck::RecordClass::kExamined) {
    restorer_.Push(note.record, note.stamp);
  } else if (note.kind == kxcheck::RecordClass::kCorrupted) {
    char room[19];
    restorer_.Push(note.record, RecordStamp(note.bytes, room));
  } else {
    return;
  }
  Drain(map);
}

void RestoreOverlay::Finish(DamageMap& map) {
  restorer_.Finish();
  Drain(map);
}

void RestoreOverlay::Drain(DamageMap& map) {
  while (restorer_.Ready()) {
    const kxcheck::RestoredStamp& out = restorer_.Front();
    // A stamp kept is written as it was read.
    if (out.fate == kxcheck::StampFate::kKept && out.original.size() == 19) {
      map.AddUnchanged(out.record, out.original);
    } else {
      map.AddWritten(out.record, out.original, out.Stamp());
    }
    restorer_.Pop();
  }
}

}  // namespace kxtable
