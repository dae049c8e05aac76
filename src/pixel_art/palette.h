// The named colours shared by the nap scene, the island, the pixel art and the tour (sRGB).
#pragma once

#include "platform/canvas.h"

namespace tovami::palette {

inline constexpr Color kTerracotta{217, 119, 87};
inline constexpr Color kDeepTerracotta{180, 85, 45};
inline constexpr Color kOffWhite{250, 249, 245};
inline constexpr Color kCream{243, 239, 230};
inline constexpr Color kDarkBrown{51, 42, 34};
inline constexpr Color kUsageGreen{143, 191, 127};
inline constexpr Color kWorkingBlue{127, 168, 201};
inline constexpr Color kNearBlack{20, 17, 16};
inline constexpr Color kDark{30, 25, 21};
inline constexpr Color kLight{243, 238, 231};
inline constexpr Color kTaupe{169, 158, 144};
inline constexpr Color kSecondDarkBrown{46, 39, 33};
inline constexpr Color kWhite{255, 255, 255};
inline constexpr Color kBlack{0, 0, 0};

}  // namespace tovami::palette
