#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <vector>

#include "imagefile/png_row_filter.h"

namespace quarrendel::test {
namespace {

using imagefile::ChoosePngRowFilter;

// Rows of grey pixels: each value fills all four bytes of its pixel.
std::vector<uint8_t> Pixels(const std::vector<int>& values) {
  std::vector<uint8_t> bytes;
  for (const int v : values) bytes.insert(bytes.end(), 4, static_cast<uint8_t>(v));
  return bytes;
}

TEST(PngRowFilter, PicksTheSmallestResidualsLowestTypeFirst) {
  struct Row {
    const char* what;
    std::vector<int> above, row;
    int32_t filter;
  };
  const Row rows[] = {
      {"all zero: every sum is 0, none wins", {0, 0, 0}, {0, 0, 0}, 0},
      {"one colour under zeros: sub leaves only the first pixel", {0, 0, 0, 0}, {90, 90, 90, 90}, 1},
      // Up and Paeth both leave 0; the lower type wins.
      {"the row above again", {5, 70, 200, 33}, {5, 70, 200, 33}, 2},
      // Residuals: none 420, sub 160, up 180, average 140, Paeth 80 (60, 0,
      // 0, -20, 0, 0: Paeth takes the left pixel in the flat part and the
      // one above in the part that repeats the row above).
      {"flat left, vertical right", {0, 0, 0, 40, 80, 120}, {60, 60, 60, 40, 80, 120}, 4},
      // Each pixel halfway between its left and upper neighbours: average 0,
      // Paeth 55 (0, -20, -30, 5), sub and up 85, none 155.
      {"halfway between left and above", {0, 40, 80, 120}, {0, 20, 50, 85}, 3},
  };
  for (const Row& r : rows) {
    const std::vector<uint8_t> above = Pixels(r.above), row = Pixels(r.row);
    EXPECT_EQ(ChoosePngRowFilter(above.data(), row.data(), row.size()), r.filter) << r.what;
  }
}

// The five predictions of byte i as the PNG book defines them.
std::array<int, 5> Predictions(const std::vector<uint8_t>& above, const std::vector<uint8_t>& row, size_t i) {
  const int b = above[i], a = i >= 4 ? row[i - 4] : 0, c = i >= 4 ? above[i - 4] : 0;
  const int p = a + b - c;
  const int paeth = std::abs(p - a) <= std::abs(p - b) && std::abs(p - a) <= std::abs(p - c) ? a
                    : std::abs(p - b) <= std::abs(p - c)                                     ? b
                                                                                            : c;
  return {0, a, b, (a + b) / 2, paeth};
}

// The sums as the PNG book defines them, one byte at a time.
int32_t PlainChoice(const std::vector<uint8_t>& above, const std::vector<uint8_t>& row) {
  std::array<long, 5> sums{};
  for (size_t i = 0; i < row.size(); ++i) {
    const std::array<int, 5> predictions = Predictions(above, row, i);
    for (size_t f = 0; f < 5; ++f) sums[f] += std::abs(static_cast<int8_t>(static_cast<uint8_t>(row[i] - predictions[f])));
  }
  int32_t best = 0;
  for (int32_t f = 1; f < 5; ++f) {
    if (sums[static_cast<size_t>(f)] < sums[static_cast<size_t>(best)]) best = f;
  }
  return best;
}

TEST(PngRowFilter, WideRowsAgreeWithTheByteByByteSumsAndResiduals) {
  uint32_t seed = 12345;
  const auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
  for (int trial = 0; trial < 400; ++trial) {
    const size_t pixels = 1 + next() % 70;  // both sides of the 8-pixel blocks
    std::vector<uint8_t> above(pixels * 4), row(pixels * 4);
    // Smooth rows with some noise, so that every filter wins somewhere.
    const int slope = static_cast<int>(next() % 9) - 4, noise = static_cast<int>(next() % 40) + 1;
    for (size_t i = 0; i < row.size(); ++i) {
      above[i] = static_cast<uint8_t>(100 + slope * static_cast<int>(i / 4) + static_cast<int>(next() % noise));
      row[i] = static_cast<uint8_t>(above[i] + static_cast<int>(next() % noise) - noise / 2);
    }
    ASSERT_EQ(ChoosePngRowFilter(above.data(), row.data(), row.size()), PlainChoice(above, row)) << "trial " << trial;
    // Every filter's residuals, whichever wins.
    for (int32_t filter = 0; filter < 5; ++filter) {
      std::vector<uint8_t> out(row.size());
      imagefile::ApplyPngRowFilter(filter, above.data(), row.data(), row.size(), out.data());
      for (size_t i = 0; i < row.size(); ++i) {
        ASSERT_EQ(out[i], static_cast<uint8_t>(row[i] - Predictions(above, row, i)[static_cast<size_t>(filter)]))
            << "trial " << trial << ", filter " << filter << ", byte " << i;
      }
    }
  }
}

}  // namespace
}  // namespace quarrendel::test
