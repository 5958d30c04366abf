#include "texture/cluster_quantize.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <string>

#include "core/error.h"
#include "core/worker_pool.h"

namespace quarrendel::texture::detail {

namespace {

constexpr size_t kChunkPoints = 4096;  // points per assignment task
constexpr size_t kAxisSamples = 1024;  // points at most that find a split axis
constexpr int32_t kAxisRounds = 6;     // power-iteration rounds per split axis

template <int32_t kDims>
uint32_t Distance(const uint8_t* a, const uint8_t* b, int32_t dims) {
  const int32_t n = kDims > 0 ? kDims : dims;
  uint32_t sum = 0;
  for (int32_t j = 0; j < n; ++j) {
    const int32_t d = static_cast<int32_t>(a[j]) - static_cast<int32_t>(b[j]);
    sum += static_cast<uint32_t>(d * d);
  }
  return sum;
}

int32_t KeyOf(const uint8_t* x, int32_t dims) {
  int32_t key = 0;
  for (int32_t j = 0; j < dims; ++j) key += x[j];
  return key;
}

// The widened codes sorted by the sum of their components. For a point with
// component sum k and a code with sum c, (k - c)^2 <= dims x distance
// (Cauchy-Schwarz along (1, ..., 1)), so the search walks outwards from the
// point's sum and stops on each side once that bound exceeds the best
// distance found.
struct SearchTable {
  SearchTable(const std::vector<uint8_t>& widened, int32_t dims, size_t codes) : dims(dims) {
    std::vector<uint16_t> order(codes);
    std::iota(order.begin(), order.end(), uint16_t{0});
    std::vector<int32_t> keyOf(codes);
    for (size_t k = 0; k < codes; ++k) keyOf[k] = KeyOf(&widened[k * static_cast<size_t>(dims)], dims);
    std::sort(order.begin(), order.end(), [&](uint16_t a, uint16_t b) {
      return keyOf[a] != keyOf[b] ? keyOf[a] < keyOf[b] : a < b;
    });
    keys.resize(codes);
    position.resize(codes);
    components.resize(codes * static_cast<size_t>(dims));
    for (size_t s = 0; s < codes; ++s) {
      keys[s] = keyOf[order[s]];
      position[order[s]] = static_cast<uint16_t>(s);
      std::memcpy(&components[s * static_cast<size_t>(dims)], &widened[order[s] * static_cast<size_t>(dims)],
                  static_cast<size_t>(dims));
    }
    code = std::move(order);
  }
  int32_t dims;
  std::vector<int32_t> keys;        // ascending
  std::vector<uint16_t> code;       // the code at each sorted position
  std::vector<uint16_t> position;   // the sorted position of each code
  std::vector<uint8_t> components;  // widened, in sorted order
};

// Points [begin, end) to their nearest codes, starting from the code each
// holds in `assignment`; returns the range's weighted error.
template <int32_t kDims>
uint64_t AssignRange(const ClusterPoints& points, const SearchTable& table, size_t begin, size_t end,
                     uint16_t* assignment, uint32_t* distance) {
  const int32_t dims = kDims > 0 ? kDims : points.dims;
  const size_t stride = static_cast<size_t>(dims);
  const size_t codes = table.keys.size();
  uint64_t error = 0;
  for (size_t p = begin; p < end; ++p) {
    const uint8_t* x = &points.components[p * stride];
    const int32_t key = KeyOf(x, dims);
    uint16_t bestCode = assignment[p];
    const size_t held = table.position[bestCode];
    uint32_t best = Distance<kDims>(x, &table.components[held * stride], dims);
    const auto visit = [&](size_t s, int64_t gap) {
      if (gap * gap > static_cast<int64_t>(dims) * best) return false;
      if (s == held) return true;
      const uint32_t d = Distance<kDims>(x, &table.components[s * stride], dims);
      if (d < best || (d == best && table.code[s] < bestCode)) {
        best = d;
        bestCode = table.code[s];
      }
      return true;
    };
    const size_t start = static_cast<size_t>(std::lower_bound(table.keys.begin(), table.keys.end(), key) -
                                             table.keys.begin());
    for (size_t s = start; s < codes && visit(s, table.keys[s] - key); ++s) {
    }
    for (size_t s = start; s-- > 0 && visit(s, key - table.keys[s]);) {
    }
    assignment[p] = bestCode;
    distance[p] = best;
    error += static_cast<uint64_t>(best) * points.weights[p];
  }
  return error;
}

using AssignFunction = uint64_t (*)(const ClusterPoints&, const SearchTable&, size_t, size_t, uint16_t*, uint32_t*);

AssignFunction AssignFor(int32_t dims) {
  switch (dims) {
    case 3: return AssignRange<3>;
    case 4: return AssignRange<4>;
    case 12: return AssignRange<12>;
    case 16: return AssignRange<16>;
    default: return AssignRange<0>;
  }
}

uint64_t AssignAll(const ClusterPoints& points, const SearchTable& table, std::vector<uint16_t>& assignment,
                   std::vector<uint32_t>& distance, WorkerPool* pool) {
  const AssignFunction assign = AssignFor(points.dims);
  const size_t count = points.Count();
  const size_t chunks = (count + kChunkPoints - 1) / kChunkPoints;
  const auto run = [&](size_t c) {
    const size_t begin = c * kChunkPoints, end = std::min(count, begin + kChunkPoints);
    return assign(points, table, begin, end, assignment.data(), distance.data());
  };
  uint64_t error = 0;
  if (pool == nullptr || pool->Threads() <= 1 || chunks <= 1) {
    for (size_t c = 0; c < chunks; ++c) error += run(c);
  } else {
    pool->OrderedMap(chunks, 2 * static_cast<size_t>(pool->Threads()), run,
                     [&](size_t, uint64_t chunkError) { error += chunkError; });
  }
  return error;
}

// The codes' words and what the decoders make of them.
struct Codebook {
  Codebook(const CodeFormat& format, size_t codes)
      : format(format),
        words(codes * static_cast<size_t>(format.Words()), 0),
        widened(codes * static_cast<size_t>(format.Dims()), 0) {
    const auto w = static_cast<size_t>(format.Words()), d = static_cast<size_t>(format.Dims());
    for (size_t k = 0; k < codes; ++k) {
      format.Widen(std::span<const uint16_t>(&words[k * w], w), std::span<uint8_t>(&widened[k * d], d));
    }
  }

  void SetNearest(size_t k, std::span<const uint64_t> sums, uint64_t weight) {
    const auto w = static_cast<size_t>(format.Words()), d = static_cast<size_t>(format.Dims());
    format.Nearest(sums, weight, std::span<uint16_t>(&words[k * w], w));
    format.Widen(std::span<const uint16_t>(&words[k * w], w), std::span<uint8_t>(&widened[k * d], d));
  }
  void SetPoint(size_t k, const uint8_t* x) {
    const auto d = static_cast<size_t>(format.Dims());
    std::vector<uint64_t> sums(x, x + d);
    SetNearest(k, sums, 1);
  }
  const uint8_t* Widened(size_t k) const { return &widened[k * static_cast<size_t>(format.Dims())]; }

  const CodeFormat& format;
  std::vector<uint16_t> words;
  std::vector<uint8_t> widened;
};

// Tree-structured start: ranges of `order` are clusters.
class Splitter {
 public:
  explicit Splitter(const ClusterPoints& points) : points_(points), dims_(static_cast<size_t>(points.dims)) {
    order_.resize(points.Count());
    std::iota(order_.begin(), order_.end(), uint32_t{0});
  }

  struct Cluster {
    size_t begin = 0;
    size_t end = 0;
    uint64_t weight = 0;
    std::vector<uint64_t> sums;     // per component: sum of weight x value
    std::vector<uint64_t> squares;  // per component: sum of weight x value^2
    double error = 0;               // squared error around the mean
  };

  // Splits until there are `codes` clusters or none can be split, and sets
  // each point's cluster in `assignment`.
  std::vector<Cluster> Run(size_t codes, std::vector<uint16_t>& assignment) {
    std::vector<Cluster> clusters{Stats(0, order_.size())};
    while (clusters.size() < codes) {
      size_t pick = 0;
      for (size_t i = 1; i < clusters.size(); ++i) {
        if (clusters[i].error > clusters[pick].error) pick = i;
      }
      if (!(clusters[pick].error > 0) || clusters[pick].end - clusters[pick].begin < 2) break;
      const size_t mid = SplitAt(clusters[pick]);
      // The larger side's sums are the whole's minus the smaller side's.
      Cluster& whole = clusters[pick];
      const bool leftSmaller = mid - whole.begin <= whole.end - mid;
      Cluster small = leftSmaller ? Stats(whole.begin, mid) : Stats(mid, whole.end);
      Cluster large = whole;
      large.begin = leftSmaller ? mid : whole.begin;
      large.end = leftSmaller ? whole.end : mid;
      large.weight -= small.weight;
      for (size_t j = 0; j < dims_; ++j) {
        large.sums[j] -= small.sums[j];
        large.squares[j] -= small.squares[j];
      }
      large.error = Error(large);
      whole = std::move(leftSmaller ? small : large);
      clusters.push_back(std::move(leftSmaller ? large : small));
    }
    for (size_t i = 0; i < clusters.size(); ++i) {
      for (size_t q = clusters[i].begin; q < clusters[i].end; ++q) assignment[order_[q]] = static_cast<uint16_t>(i);
    }
    return clusters;
  }

 private:
  const uint8_t* Point(uint32_t p) const { return &points_.components[p * dims_]; }

  double Error(const Cluster& c) const {
    double error = 0;
    for (size_t j = 0; j < dims_; ++j) {
      const double s = static_cast<double>(c.sums[j]);
      error += static_cast<double>(c.squares[j]) - s * s / static_cast<double>(c.weight);
    }
    return error;
  }

  Cluster Stats(size_t begin, size_t end) const {
    Cluster c{begin, end, 0, std::vector<uint64_t>(dims_, 0), std::vector<uint64_t>(dims_, 0), 0};
    for (size_t q = begin; q < end; ++q) {
      const uint8_t* x = Point(order_[q]);
      const uint64_t w = points_.weights[order_[q]];
      for (size_t j = 0; j < dims_; ++j) {
        c.sums[j] += w * x[j];
        c.squares[j] += w * x[j] * x[j];
      }
      c.weight += w;
    }
    c.error = Error(c);
    return c;
  }

  // Reorders the cluster's range so that [begin, mid) and [mid, end) lie on
  // either side of the plane through the mean across the principal axis
  // (power iteration on up to kAxisSamples evenly spaced points, from the
  // component with the largest spread).
  size_t SplitAt(const Cluster& cluster) {
    std::vector<double> mean(dims_), axis(dims_, 0.0), next(dims_);
    size_t widest = 0;
    double widestSpread = -1;
    for (size_t j = 0; j < dims_; ++j) {
      mean[j] = static_cast<double>(cluster.sums[j]) / static_cast<double>(cluster.weight);
      const double spread = static_cast<double>(cluster.squares[j]) - mean[j] * static_cast<double>(cluster.sums[j]);
      if (spread > widestSpread) {
        widestSpread = spread;
        widest = j;
      }
    }
    axis[widest] = 1.0;
    const size_t n = cluster.end - cluster.begin;
    const size_t stride = std::max<size_t>(1, n / kAxisSamples);
    for (int32_t round = 0; round < kAxisRounds; ++round) {
      std::fill(next.begin(), next.end(), 0.0);
      for (size_t q = cluster.begin; q < cluster.end; q += stride) {
        const uint8_t* x = Point(order_[q]);
        double t = 0;
        for (size_t j = 0; j < dims_; ++j) t += (x[j] - mean[j]) * axis[j];
        t *= points_.weights[order_[q]];
        for (size_t j = 0; j < dims_; ++j) next[j] += t * (x[j] - mean[j]);
      }
      double norm = 0;
      for (double v : next) norm += v * v;
      norm = std::sqrt(norm);
      if (!(norm > 0)) break;
      for (size_t j = 0; j < dims_; ++j) axis[j] = next[j] / norm;
    }
    // Points below the plane: (x - mean) . axis < 0, i.e. x . axis < mean . axis.
    double threshold = 0;
    for (size_t j = 0; j < dims_; ++j) threshold += mean[j] * axis[j];
    const auto below = [&](uint32_t p) {
      const uint8_t* x = Point(p);
      double t = 0;
      for (size_t j = 0; j < dims_; ++j) t += x[j] * axis[j];
      return t < threshold;
    };
    size_t i = cluster.begin, k = cluster.end;
    while (i < k) {
      if (below(order_[i])) {
        ++i;
      } else {
        std::swap(order_[i], order_[--k]);
      }
    }
    if (i > cluster.begin && i < cluster.end) return i;
    // Rounding left one side empty: cut the range, in component order, at
    // half its weight.
    std::sort(order_.begin() + static_cast<std::ptrdiff_t>(cluster.begin),
              order_.begin() + static_cast<std::ptrdiff_t>(cluster.end), [&](uint32_t a, uint32_t b) {
                const int c = std::memcmp(Point(a), Point(b), dims_);
                return c != 0 ? c < 0 : a < b;
              });
    uint64_t prefix = 0;
    size_t cut = cluster.begin + 1;
    for (size_t q = cluster.begin; q + 1 < cluster.end; ++q) {
      prefix += points_.weights[order_[q]];
      cut = q + 1;
      if (2 * prefix >= cluster.weight) break;
    }
    return cut;
  }

  const ClusterPoints& points_;
  size_t dims_;
  std::vector<uint32_t> order_;
};

// Codes without points take the points that cost most (weight x distance,
// the earlier point on a tie) whose own code differs from every code kept.
void Reseed(Codebook& book, const std::vector<uint64_t>& codeWeights, const ClusterPoints& points,
            const std::vector<uint32_t>& distance) {
  std::vector<size_t> empty;
  for (size_t k = 0; k < codeWeights.size(); ++k) {
    if (codeWeights[k] == 0) empty.push_back(k);
  }
  if (empty.empty()) return;
  std::vector<std::pair<uint64_t, uint32_t>> costs;
  for (size_t p = 0; p < points.Count(); ++p) {
    if (distance[p] > 0) costs.emplace_back(static_cast<uint64_t>(distance[p]) * points.weights[p], p);
  }
  const auto worse = [](const auto& a, const auto& b) { return a.first != b.first ? a.first > b.first : a.second < b.second; };
  const size_t candidates = std::min(costs.size(), 4 * empty.size() + 16);
  std::partial_sort(costs.begin(), costs.begin() + static_cast<std::ptrdiff_t>(candidates), costs.end(), worse);
  const auto dims = static_cast<size_t>(points.dims);
  std::vector<bool> kept(codeWeights.size());
  for (size_t k = 0; k < codeWeights.size(); ++k) kept[k] = codeWeights[k] > 0;
  size_t next = 0;
  for (size_t c = 0; c < candidates && next < empty.size(); ++c) {
    const size_t k = empty[next];
    book.SetPoint(k, &points.components[costs[c].second * dims]);
    bool repeated = false;
    for (size_t other = 0; other < kept.size() && !repeated; ++other) {
      repeated = kept[other] && std::memcmp(book.Widened(other), book.Widened(k), dims) == 0;
    }
    if (repeated) continue;
    kept[k] = true;
    ++next;
  }
}

}  // namespace

uint32_t ComponentDistance(const uint8_t* a, const uint8_t* b, int32_t dims) { return Distance<0>(a, b, dims); }

ClusterPoints UniquePoints(std::span<const uint8_t> components, int32_t dims, std::vector<uint32_t>& pointOf) {
  if (dims < 1 || dims > 16 || components.size() % static_cast<size_t>(dims) != 0) {
    throw Error(ErrorKind::Usage, "unique points: " + std::to_string(dims) + " components per point");
  }
  const size_t count = components.size() / static_cast<size_t>(dims);
  struct Key {
    uint64_t high = 0;
    uint64_t low = 0;
    uint32_t index = 0;
  };
  std::vector<Key> keys(count);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* x = &components[i * static_cast<size_t>(dims)];
    Key& key = keys[i];
    for (int32_t j = 0; j < 16; ++j) {
      const uint64_t byte = j < dims ? x[j] : 0;
      (j < 8 ? key.high : key.low) |= byte << (8 * (7 - (j % 8)));
    }
    key.index = static_cast<uint32_t>(i);
  }
  std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
    if (a.high != b.high) return a.high < b.high;
    if (a.low != b.low) return a.low < b.low;
    return a.index < b.index;
  });
  ClusterPoints points;
  points.dims = dims;
  pointOf.assign(count, 0);
  for (size_t i = 0; i < count; ++i) {
    if (i == 0 || keys[i].high != keys[i - 1].high || keys[i].low != keys[i - 1].low) {
      const uint8_t* x = &components[keys[i].index * static_cast<size_t>(dims)];
      points.components.insert(points.components.end(), x, x + dims);
      points.weights.push_back(0);
    }
    ++points.weights.back();
    pointOf[keys[i].index] = static_cast<uint32_t>(points.weights.size() - 1);
  }
  return points;
}

Clustering Cluster(const ClusterPoints& points, const CodeFormat& format, int32_t codes, int32_t maxPasses,
                   WorkerPool* pool) {
  const int32_t dims = points.dims;
  const size_t count = points.Count();
  if (dims != format.Dims() || codes < 1 || codes > kMaxCodes || maxPasses < 1 ||
      points.components.size() != count * static_cast<size_t>(dims)) {
    throw Error(ErrorKind::Usage, "clustering: " + std::to_string(codes) + " codes of " + std::to_string(dims) +
                                      " components, " + std::to_string(maxPasses) + " passes");
  }
  const auto codeCount = static_cast<size_t>(codes);
  const auto stride = static_cast<size_t>(dims);
  Codebook book(format, codeCount);
  Clustering result;
  result.assignment.assign(count, 0);
  if (count <= codeCount) {
    // A code per point; the rest repeat code 0. Where a format's nearest
    // words are only a local optimum (YUV422 pairs), another point's code
    // can serve a point better, so the points still take their nearest.
    for (size_t p = 0; p < count; ++p) {
      book.SetPoint(p, &points.components[p * stride]);
      result.assignment[p] = static_cast<uint16_t>(p);
    }
    const auto words = static_cast<size_t>(format.Words());
    for (size_t k = std::max<size_t>(count, 1); k < codeCount; ++k) {
      std::copy_n(book.words.begin(), words, book.words.begin() + static_cast<std::ptrdiff_t>(k * words));
      std::copy_n(book.widened.begin(), stride, book.widened.begin() + static_cast<std::ptrdiff_t>(k * stride));
    }
    if (count > 0) {
      std::vector<uint32_t> distance(count);
      result.error = AssignAll(points, SearchTable(book.widened, dims, codeCount), result.assignment, distance, pool);
    }
    result.words = std::move(book.words);
    return result;
  }

  std::vector<uint16_t> assignment(count, 0);
  {
    Splitter splitter(points);
    const auto clusters = splitter.Run(codeCount, assignment);
    for (size_t k = 0; k < clusters.size(); ++k) book.SetNearest(k, clusters[k].sums, clusters[k].weight);
  }

  std::vector<uint32_t> distance(count, 0);
  std::vector<uint64_t> sums(codeCount * stride), codeWeights(codeCount);
  uint64_t bestError = std::numeric_limits<uint64_t>::max();
  for (int32_t pass = 1; pass <= maxPasses; ++pass) {
    const SearchTable table(book.widened, dims, codeCount);
    const uint64_t error = AssignAll(points, table, assignment, distance, pool);
    result.passes = pass;
    if (error >= bestError) break;  // no better: keep the previous state
    const bool settled = bestError != std::numeric_limits<uint64_t>::max() && (bestError - error) * 1000 < bestError;
    bestError = error;
    result.words = book.words;
    result.assignment = assignment;
    result.error = error;
    if (settled || error == 0 || pass == maxPasses) break;

    std::fill(sums.begin(), sums.end(), 0);
    std::fill(codeWeights.begin(), codeWeights.end(), 0);
    for (size_t p = 0; p < count; ++p) {
      const size_t k = assignment[p];
      const uint64_t w = points.weights[p];
      const uint8_t* x = &points.components[p * stride];
      uint64_t* s = &sums[k * stride];
      for (size_t j = 0; j < stride; ++j) s[j] += w * x[j];
      codeWeights[k] += w;
    }
    for (size_t k = 0; k < codeCount; ++k) {
      if (codeWeights[k] > 0) book.SetNearest(k, std::span<const uint64_t>(&sums[k * stride], stride), codeWeights[k]);
    }
    Reseed(book, codeWeights, points, distance);
  }
  return result;
}

}  // namespace quarrendel::texture::detail
