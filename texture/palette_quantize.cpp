#include "texture/palette_quantize.h"

#include <algorithm>
#include <array>
#include <string>

#include "core/error.h"
#include "texture/cluster_quantize.h"

namespace quarrendel::texture {

namespace {

// One texel: red, green, blue and, when the format has it, alpha.
class ColourFormat final : public detail::CodeFormat {
 public:
  explicit ColourFormat(TexelFormat format) : format_(format), channels_(TexelHasAlpha(format) ? 4 : 3) {}

  int32_t Dims() const override { return channels_; }
  int32_t Words() const override { return 1; }

  void Nearest(std::span<const uint64_t> sums, uint64_t weight, std::span<uint16_t> words) const override {
    ChannelSums texel{};
    for (size_t c = 0; c < static_cast<size_t>(channels_); ++c) texel[c] = sums[c];
    words[0] = NearestTexel(texel, weight, format_);
  }

  void Widen(std::span<const uint16_t> words, std::span<uint8_t> components) const override {
    const uint32_t pixel = WidenTexel(words[0], format_);
    for (size_t c = 0; c < static_cast<size_t>(channels_); ++c) components[c] = static_cast<uint8_t>(pixel >> (8 * c));
  }

 private:
  TexelFormat format_;
  int32_t channels_;
};

}  // namespace

PaletteResult QuantizePalette(const RgbaView& picture, TexelFormat format, int32_t colours, WorkerPool* pool,
                              int32_t maxPasses) {
  const size_t pixels = static_cast<size_t>(std::max(picture.width, 0)) * static_cast<size_t>(std::max(picture.height, 0));
  if (colours < 1 || colours > detail::kMaxCodes || maxPasses < 1 || picture.width < 1 || picture.height < 1 ||
      picture.pixels.size() != pixels) {
    throw Error(ErrorKind::Usage, "palette: " + std::to_string(colours) + " colours for a " +
                                      std::to_string(picture.width) + " x " + std::to_string(picture.height) +
                                      " picture of " + std::to_string(picture.pixels.size()) + " pixels");
  }
  const ColourFormat colourFormat(format);
  const auto channels = static_cast<size_t>(colourFormat.Dims());
  std::vector<uint8_t> components(pixels * channels);
  for (size_t i = 0; i < pixels; ++i) {
    for (size_t c = 0; c < channels; ++c) components[i * channels + c] = static_cast<uint8_t>(picture.pixels[i] >> (8 * c));
  }
  std::vector<uint32_t> pointOf;
  const detail::ClusterPoints points = detail::UniquePoints(components, static_cast<int32_t>(channels), pointOf);

  PaletteResult result;
  result.indices.resize(pixels);
  // Few enough colours once reduced: each keeps its reduced word.
  std::vector<uint16_t> reduced(points.Count());
  for (size_t p = 0; p < points.Count(); ++p) {
    std::array<uint64_t, 4> sums{};
    for (size_t c = 0; c < channels; ++c) sums[c] = points.components[p * channels + c];
    colourFormat.Nearest(sums, 1, std::span<uint16_t>(&reduced[p], 1));
  }
  std::vector<uint16_t> distinct = reduced;
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  if (distinct.size() <= static_cast<size_t>(colours)) {
    result.palette = distinct;
    result.palette.resize(static_cast<size_t>(colours), 0);
    std::vector<uint8_t> indexOf(points.Count());
    std::vector<uint8_t> widened(channels);
    for (size_t p = 0; p < points.Count(); ++p) {
      indexOf[p] = static_cast<uint8_t>(std::lower_bound(distinct.begin(), distinct.end(), reduced[p]) - distinct.begin());
      colourFormat.Widen(std::span<const uint16_t>(&reduced[p], 1), widened);
      result.error += static_cast<uint64_t>(detail::ComponentDistance(&points.components[p * channels], widened.data(),
                                                                      static_cast<int32_t>(channels))) *
                      points.weights[p];
    }
    for (size_t i = 0; i < pixels; ++i) result.indices[i] = indexOf[pointOf[i]];
    return result;
  }

  detail::Clustering clustering = detail::Cluster(points, colourFormat, colours, maxPasses, pool);
  result.palette = std::move(clustering.words);
  result.error = clustering.error;
  result.passes = clustering.passes;
  for (size_t i = 0; i < pixels; ++i) result.indices[i] = static_cast<uint8_t>(clustering.assignment[pointOf[i]]);
  return result;
}

}  // namespace quarrendel::texture
