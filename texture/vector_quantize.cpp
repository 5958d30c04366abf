#include "texture/vector_quantize.h"

#include <algorithm>
#include <string>

#include "core/error.h"
#include "texture/cluster_quantize.h"
#include "texture/texel_format.h"

namespace quarrendel::texture {

namespace {

// Block texel t (0..3) lies at (t / 2, t % 2) inside the block.
constexpr int32_t kBlockTexels = 4;

// A block of four texels: 4 channels per texel (3 without alpha).
class BlockFormat final : public detail::CodeFormat {
 public:
  explicit BlockFormat(PixelFormat format) : format_(format) {
    switch (format) {
      case PixelFormat::Argb1555: texel_ = TexelFormat::Argb1555; break;
      case PixelFormat::Rgb565: texel_ = TexelFormat::Rgb565; break;
      case PixelFormat::Argb4444: texel_ = TexelFormat::Argb4444; break;
      default: texel_ = TexelFormat::Rgb565; break;  // YUV422: opaque, three channels
    }
    channels_ = TexelHasAlpha(texel_) ? 4 : 3;
  }

  int32_t Channels() const { return channels_; }
  int32_t Dims() const override { return kBlockTexels * channels_; }
  int32_t Words() const override { return kBlockTexels; }

  void Nearest(std::span<const uint64_t> sums, uint64_t weight, std::span<uint16_t> words) const override {
    if (format_ == PixelFormat::Yuv442) {
      // Pairs: texels 0 and 2 (top row), 1 and 3 (bottom row).
      for (int32_t row = 0; row < 2; ++row) {
        PairSums pair{};
        for (size_t c = 0; c < 3; ++c) {
          pair[c] = sums[static_cast<size_t>(row) * 3 + c];
          pair[c + 3] = sums[static_cast<size_t>(row + 2) * 3 + c];
        }
        const YuvPair fitted = NearestYuvPair(pair, weight);
        words[static_cast<size_t>(row)] = fitted.left;
        words[static_cast<size_t>(row + 2)] = fitted.right;
      }
      return;
    }
    for (size_t t = 0; t < kBlockTexels; ++t) {
      ChannelSums texel{};
      for (size_t c = 0; c < static_cast<size_t>(channels_); ++c) texel[c] = sums[t * static_cast<size_t>(channels_) + c];
      words[t] = NearestTexel(texel, weight, texel_);
    }
  }

  void Widen(std::span<const uint16_t> words, std::span<uint8_t> components) const override {
    uint32_t pixels[kBlockTexels];
    if (format_ == PixelFormat::Yuv442) {
      for (int32_t row = 0; row < 2; ++row) {
        const auto pair = WidenYuvPair(YuvPair{words[static_cast<size_t>(row)], words[static_cast<size_t>(row + 2)]});
        pixels[row] = pair[0];
        pixels[row + 2] = pair[1];
      }
    } else {
      for (size_t t = 0; t < kBlockTexels; ++t) pixels[t] = WidenTexel(words[t], texel_);
    }
    for (size_t t = 0; t < kBlockTexels; ++t) {
      for (size_t c = 0; c < static_cast<size_t>(channels_); ++c) {
        components[t * static_cast<size_t>(channels_) + c] = static_cast<uint8_t>(pixels[t] >> (8 * c));
      }
    }
  }

 private:
  PixelFormat format_;
  TexelFormat texel_ = TexelFormat::Rgb565;
  int32_t channels_ = 3;
};

bool Quantisable(PixelFormat format) {
  return format == PixelFormat::Argb1555 || format == PixelFormat::Rgb565 || format == PixelFormat::Argb4444 ||
         format == PixelFormat::Yuv442;
}

void CheckPictures(std::span<const RgbaView> pictures, PixelFormat format, int32_t codes, int32_t maxPasses) {
  if (!Quantisable(format)) {
    throw Error(ErrorKind::Usage, "vector quantisation: pixel format " +
                                      std::to_string(static_cast<int32_t>(format)) + " has no VQ codebook");
  }
  if (codes < 1 || codes > detail::kMaxCodes || maxPasses < 1) {
    throw Error(ErrorKind::Usage, "vector quantisation: " + std::to_string(codes) + " codes, " +
                                      std::to_string(maxPasses) + " passes");
  }
  for (const RgbaView& picture : pictures) {
    const bool single = picture.width == 1 && picture.height == 1;
    const bool blocks = picture.width > 0 && picture.height > 0 && picture.width % 2 == 0 && picture.height % 2 == 0;
    if ((!single && !blocks) ||
        picture.pixels.size() != static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height)) {
      throw Error(ErrorKind::Usage, "vector quantisation: a " + std::to_string(picture.width) + " x " +
                                        std::to_string(picture.height) + " picture of " +
                                        std::to_string(picture.pixels.size()) + " pixels");
    }
  }
}

}  // namespace

VqResult QuantizeVectors(std::span<const RgbaView> pictures, PixelFormat format, int32_t codes, WorkerPool* pool,
                         int32_t maxPasses) {
  CheckPictures(pictures, format, codes, maxPasses);
  const BlockFormat blockFormat(format);
  const auto channels = static_cast<size_t>(blockFormat.Channels());
  const auto dims = static_cast<size_t>(blockFormat.Dims());

  std::vector<uint8_t> components;
  std::vector<size_t> firstBlock;  // per picture
  for (const RgbaView& picture : pictures) {
    firstBlock.push_back(components.size() / dims);
    const int32_t blocksX = std::max(picture.width / 2, 1), blocksY = std::max(picture.height / 2, 1);
    const bool single = picture.width == 1;
    for (int32_t by = 0; by < blocksY; ++by) {
      for (int32_t bx = 0; bx < blocksX; ++bx) {
        for (int32_t t = 0; t < kBlockTexels; ++t) {
          const int32_t x = single ? 0 : 2 * bx + t / 2, y = single ? 0 : 2 * by + t % 2;
          const uint32_t pixel = picture.pixels[static_cast<size_t>(y) * static_cast<size_t>(picture.width) +
                                                static_cast<size_t>(x)];
          for (size_t c = 0; c < channels; ++c) components.push_back(static_cast<uint8_t>(pixel >> (8 * c)));
        }
      }
    }
  }

  std::vector<uint32_t> pointOf;
  const detail::ClusterPoints points = detail::UniquePoints(components, static_cast<int32_t>(dims), pointOf);
  detail::Clustering clustering = detail::Cluster(points, blockFormat, codes, maxPasses, pool);

  VqResult result;
  result.codebook = std::move(clustering.words);
  result.error = clustering.error;
  result.passes = clustering.passes;
  for (size_t p = 0; p < pictures.size(); ++p) {
    const size_t end = p + 1 < pictures.size() ? firstBlock[p + 1] : pointOf.size();
    std::vector<uint8_t>& indices = result.indices.emplace_back();
    indices.reserve(end - firstBlock[p]);
    for (size_t b = firstBlock[p]; b < end; ++b) {
      indices.push_back(static_cast<uint8_t>(clustering.assignment[pointOf[b]]));
    }
  }
  return result;
}

}  // namespace quarrendel::texture
