// The fixed capacities of the image store. Every command that takes input
// from a file checks it against these before it changes anything.
#pragma once

#include <cstdint>
#include <string_view>

namespace quarrendel {

inline constexpr int32_t kMaxImages = 5001;           // image table entries 0..5000
inline constexpr int32_t kBufferSize = 10'000'000;    // input and output buffers, bytes each
inline constexpr int32_t kCanvasSide = 2049;          // canvas indices 0..2048 in x and y
inline constexpr int32_t kMaxBmlEntries = 255;        // entries of a BML package

// Each throws Error(ErrorKind::OverCapacity) naming `what` when the value is
// beyond the capacity; call before touching the store so it stays as it was.
void RequireImageCount(int64_t count, std::string_view what = "archive");
void RequireBufferBytes(int64_t bytes, std::string_view what = "data");
void RequireCanvasSide(int64_t side, std::string_view what = "texture");

}  // namespace quarrendel
