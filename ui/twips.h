// Twips, the window's unit of position and size: 1440 to the logical inch,
// 15 to the device-independent pixel.
#ifndef KXCHECK_UI_TWIPS_H_
#define KXCHECK_UI_TWIPS_H_

#include <cmath>
#include <cstdint>

namespace kxui {

inline constexpr int kTwipsPerPixel = 15;

// Nearest whole pixel; halves away from zero.
inline int TwipsToPixels(int64_t twips) {
  return static_cast<int>(
      std::lround(static_cast<double>(twips) / kTwipsPerPixel));
}

inline int64_t PixelsToTwips(int pixels) {
  return static_cast<int64_t>(pixels) * kTwipsPerPixel;
}

// Rounds to the nearest whole number, halves to the even neighbour.
inline int64_t RoundHalfEven(double value) {
  double floor = std::floor(value);
  double diff = value - floor;
  int64_t lower = static_cast<int64_t>(floor);
  if (diff < 0.5) return lower;
  if (diff > 0.5) return lower + 1;
  return (lower % 2 == 0) ? lower : lower + 1;
}

// Where an edge goes so that the window sits in the middle of the screen:
// the room (screen size minus window size, in twips) rounded halves to even,
// then halved by integer division that truncates toward zero. A room of
// -1001 gives -500.
inline int64_t CentredOffset(double room_twips) {
  return RoundHalfEven(room_twips) / 2;
}

}  // namespace kxui

#endif  // KXCHECK_UI_TWIPS_H_
