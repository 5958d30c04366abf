// The clustering that the palette and VQ quantisers share. Points of up to
// 16 eight-bit components (the channels of one texel, or of the four texels
// of a 2 x 2 block), each standing for `weight` source vectors, are grouped
// around at most `codes` codes; a CodeFormat says which texel words a code
// can be and what the decoders make of them.
//
// Start: the cluster with the largest squared error is split across its
// principal axis, at its mean, until there are `codes` clusters; each code
// is the word nearest to its cluster's mean. Then Lloyd passes: every point
// takes its nearest widened code (the lower code on a tie), every code moves
// to the words nearest to its points' mean, and codes left without points
// take the worst-served points. The passes stop when one improves the total
// error by less than 0.1 %, makes it worse (the better state is kept), or
// the pass limit is reached. With no more points than codes, each point
// gets a code of its own, the codes left over repeat code 0, and each point
// then takes its nearest code (its own, unless the format's fit is only a
// local optimum, as for YUV422 pairs).
//
// Determinism: distances, sums and errors are integers; the split axes are
// found in double precision on one thread in a fixed order. Only the
// assignment runs on the worker pool, in fixed chunks, and each point's
// result depends on nothing but the point and the codes, so the words and
// indices are the same for every run and every thread count.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace quarrendel {
class WorkerPool;
}

namespace quarrendel::texture::detail {

inline constexpr int32_t kMaxCodes = 256;

class CodeFormat {
 public:
  virtual ~CodeFormat() = default;
  // Components per point: 3, 4, 12 or 16.
  virtual int32_t Dims() const = 0;
  // Texel words per code.
  virtual int32_t Words() const = 0;
  // The words of the code nearest to the mean of `weight` points whose
  // component sums are `sums` (Dims() values); weight is at least 1.
  virtual void Nearest(std::span<const uint64_t> sums, uint64_t weight, std::span<uint16_t> words) const = 0;
  // The components the decoders make of `words`.
  virtual void Widen(std::span<const uint16_t> words, std::span<uint8_t> components) const = 0;
};

struct ClusterPoints {
  int32_t dims = 0;
  std::vector<uint8_t> components;  // point p at [p * dims, (p + 1) * dims)
  std::vector<uint32_t> weights;    // at least 1 each
  size_t Count() const { return weights.size(); }
};

// The distinct vectors of `components` (count x dims), each weighted by how
// often it occurs, in ascending byte order; pointOf[i] is the point of
// input vector i. dims is at most 16.
ClusterPoints UniquePoints(std::span<const uint8_t> components, int32_t dims, std::vector<uint32_t>& pointOf);

struct Clustering {
  std::vector<uint16_t> words;       // codes x Words(); codes no point uses hold any words
  std::vector<uint16_t> assignment;  // per point: its code, a nearest one (the lowest on a tie)
  uint64_t error = 0;                // sum of weight x squared distance to the widened code
  int32_t passes = 0;                // assignment passes run
};

// `codes` from 1 to kMaxCodes; `maxPasses` at least 1. Without a pool (or
// with a one-thread pool) everything runs on the calling thread.
Clustering Cluster(const ClusterPoints& points, const CodeFormat& format, int32_t codes, int32_t maxPasses,
                   WorkerPool* pool);

// The squared distance of two component vectors.
uint32_t ComponentDistance(const uint8_t* a, const uint8_t* b, int32_t dims);

}  // namespace quarrendel::texture::detail
