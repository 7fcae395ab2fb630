// RealFft: kissfft transforms the n real points as n/2 complex ones (even points the real parts, odd
// ones the imaginary), and the two interleaved halves are untangled; the inverse runs that backwards.
// Large transforms go in four steps over small kissfft transforms that stay in the cache.
#include "spectra/fft.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <numbers>
#include <optional>
#include <stdexcept>
#include <vector>

#include <kissfft.hh>

namespace dorvane::spectra {
namespace {

using Complex = std::complex<double>;

// At 2^16 complex points (1 MiB, and kissfft's twiddles as many again, twice a core's cache here)
// one kissfft transform still beats the four steps (minimum of 60 runs, 1.5-2.2 ms against 2.0-2.8
// with 256 x 256, 1.8-2.6 with 64 x 1024, 2.1-3.1 with 1024 x 64); from 2^17 the four steps win
// (2^18: 15 ms against 22).
constexpr std::size_t kFourStepsFrom = std::size_t{1} << 17;

// Columns and rows are handled four at a time, so that each point gathered or scattered across the
// matrix belongs to a whole 64-byte cache line that is used at once.
constexpr std::size_t kBlock = 16;

// The rows of the four steps for h = 2^L points: a power of four (kissfft's radix-4 passes, a fifth
// faster a point than with a radix-2 pass left over) of at least the square root of h.
std::size_t fourStepRows(std::size_t half) {
  const int power = std::bit_width(half) - 1;
  return std::size_t{1} << ((power + 3) / 4 * 2);
}

std::size_t checkedHalf(std::size_t points) {
  if (points < 2 || points % 2 != 0) throw std::invalid_argument("RealFft: the size must be even and at least 2");
  return points / 2;
}

// The standard mutex is missing from the Windows toolchain; the locks here are held only to move a
// few pointers, never while memory is allocated or a transform is made.
class SpinLock {
 public:
  explicit SpinLock(std::atomic_flag& flag) : flag_(flag) {
    while (flag_.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~SpinLock() { flag_.clear(std::memory_order_release); }
  SpinLock(const SpinLock&) = delete;
  SpinLock& operator=(const SpinLock&) = delete;

 private:
  std::atomic_flag& flag_;
};

// Working memory given back by the calls that ended, the last given back first. A call at 2^19
// points needs some 12 MB, and memory that large comes fresh from the system each time, a page fault
// a page; a few kept buffers serve the sizes in use, and the oldest goes when another comes back.
constexpr std::size_t kKeptBuffers = 6;
std::atomic_flag keptBusy = ATOMIC_FLAG_INIT;
std::unique_ptr<double[]> keptBuffers[kKeptBuffers];
std::size_t keptSizes[kKeptBuffers];

// e^(-2 pi i k / n) for k = 0 .. count-1, each from its own angle, so no error builds up.
std::vector<Complex> rootsOfUnity(std::size_t n, std::size_t count, std::size_t stride = 1) {
  std::vector<Complex> roots(count);
  for (std::size_t k = 0; k < count; ++k)
    roots[k] = std::polar(1.0, -2 * std::numbers::pi * static_cast<double>(k * stride) / static_cast<double>(n));
  return roots;
}

// Bins 0 .. h of n = 2h real points from the complex transform Z of their h pairs, in place.
void untangle(std::span<Complex> out, const std::vector<Complex>& turns) {
  // With Z the transform of z[m] = x[2m] + i x[2m+1]: X[k] = E + W^k O, E = (Z[k] + conj Z[h-k]) / 2,
  // O = (Z[k] - conj Z[h-k]) / 2i, W = e^(-2 pi i / n); bins k and h-k come from the same pair.
  const std::size_t h = out.size() - 1;
  const Complex z0 = out[0];
  for (std::size_t k = 1; k <= h / 2; ++k) {
    const std::size_t m = h - k;
    const Complex a = out[k], b = out[m];
    const Complex even = 0.5 * (a + std::conj(b));
    const Complex odd = Complex(0, -0.5) * (a - std::conj(b));
    const Complex turned = turns[k] * odd;
    out[k] = even + turned;
    if (m != k) out[m] = std::conj(even - turned);  // W^(h-k) = -conj W^k
  }
  out[0] = {z0.real() + z0.imag(), 0};
  out[h] = {z0.real() - z0.imag(), 0};
}

}  // namespace

// The complex transform of h = rows x columns points in four steps (h a power of two): with the
// input read as a matrix of `rows` rows and `columns` columns, (1) a transform of each column,
// (2) each result turned by e^(-2 pi i row column / h), (3) a transform of each row, (4) the matrix
// read out transposed. Each small transform and its twiddles fit in the cache, where kissfft's own
// passes over a large array, and its table of h twiddles, go to memory at every stage.
struct RealFft::Plan {
  explicit Plan(std::size_t half)
      : rows(std::has_single_bit(half) && half >= kFourStepsFrom ? fourStepRows(half) : half),
        columns(half / rows),
        columnFft(rows, false),
        untangling(rootsOfUnity(2 * half, half / 2 + 1)) {
    if (columns > 1) {
      rowFft.emplace(columns, false);
      fineTurns = rootsOfUnity(half, rows);
      coarseTurns = rootsOfUnity(half, columns, rows);
      fineUntangling = rootsOfUnity(2 * half, rows);
      coarseUntangling = rootsOfUnity(2 * half, columns, rows);
    }
  }

  // Complex numbers of working memory the four steps need: a block of columns and one column's
  // transform, or a block of rows and the block of their mirror rows.
  std::size_t scratchSize() const { return std::max(kBlock * rows + rows, 2 * kBlock * columns); }

  // Steps (1) and (2), in place.
  void turnedColumns(Complex* data, Complex* scratch) const {
    Complex* const block = scratch;
    Complex* const column = scratch + kBlock * rows;
    const unsigned rowShift = static_cast<unsigned>(std::bit_width(rows) - 1);
    for (std::size_t c = 0; c < columns; c += kBlock) {
      for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t j = 0; j < kBlock; ++j) block[j * rows + r] = data[r * columns + c + j];
      for (std::size_t j = 0; j < kBlock; ++j) {
        columnFft.transform(block + j * rows, column);
        // The turn e^(-2 pi i m / h), m = r (c + j) < h, is the product of two small tables' entries.
        for (std::size_t r = 0, m = 0; r < rows; ++r, m += c + j)
          block[j * rows + r] = column[r] * (coarseTurns[m >> rowShift] * fineTurns[m & (rows - 1)]);
      }
      for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t j = 0; j < kBlock; ++j) data[r * columns + c + j] = block[j * rows + r];
    }
  }

  // The complex transform: data h points, overwritten; out h points.
  void transform(Complex* data, Complex* out) const {
    if (columns == 1) {
      columnFft.transform(data, out);
      return;
    }
    WorkingMemory scratchStore(2 * scratchSize());
    Complex* const block = scratchStore.complexes(0, scratchSize()).data();
    turnedColumns(data, block);
    for (std::size_t r = 0; r < rows; r += kBlock) {
      for (std::size_t j = 0; j < kBlock; ++j) rowFft->transform(data + (r + j) * columns, block + j * columns);
      for (std::size_t c = 0; c < columns; ++c)
        for (std::size_t j = 0; j < kBlock; ++j) out[r + j + rows * c] = block[j * columns + c];
    }
  }

  // The real transform in four steps, the untangling done as the rows are read out rather than in a
  // pass of its own: bin k = r + rows c is row r's column c, and its partner h - k is row rows - r's
  // column columns - 1 - c (row 0's column columns - c), so a block of rows and the block of their
  // mirror rows give both bins of each pair. data: h points, overwritten; out: h + 1 bins.
  void forwardReal(Complex* data, Complex* out) const {
    WorkingMemory scratchStore(2 * scratchSize());
    Complex* const front = scratchStore.complexes(0, scratchSize()).data();
    Complex* const back = front + kBlock * columns;
    turnedColumns(data, front);
    const std::size_t h = rows * columns;
    // X[k] = E + W^k O and X[h-k] = conj(E - W^k O), as in untangle(); W^k for k = r + rows c is
    // the product of two small tables' entries.
    const auto pair = [&](std::size_t k, Complex a, Complex b, std::size_t r, std::size_t c) {
      const Complex even = 0.5 * (a + std::conj(b));
      const Complex odd = Complex(0, -0.5) * (a - std::conj(b));
      const Complex turned = (coarseUntangling[c] * fineUntangling[r]) * odd;
      out[k] = even + turned;
      out[h - k] = std::conj(even - turned);
    };
    for (std::size_t r0 = 0; r0 < rows / 2; r0 += kBlock) {
      for (std::size_t j = 0; j < kBlock; ++j) {
        rowFft->transform(data + (r0 + j) * columns, front + j * columns);
        if (r0 + j > 0) rowFft->transform(data + (rows - r0 - j) * columns, back + j * columns);
      }
      for (std::size_t c = 0; c < columns; ++c) {
        const std::size_t mirrorColumn = columns - 1 - c;
        for (std::size_t j = r0 == 0 ? 1 : 0; j < kBlock; ++j)
          pair(r0 + j + rows * c, front[j * columns + c], back[j * columns + mirrorColumn], r0 + j, c);
      }
      if (r0 == 0) {  // row 0 pairs with itself, column c with columns - c
        const Complex z0 = front[0];
        for (std::size_t c = 1; c < columns / 2; ++c) pair(rows * c, front[c], front[columns - c], 0, c);
        const Complex middle = front[columns / 2];  // bin h/2 pairs with itself: X = conj Z
        out[h / 2] = std::conj(middle);
        out[0] = {z0.real() + z0.imag(), 0};
        out[h] = {z0.real() - z0.imag(), 0};
      }
    }
    // Row rows/2 pairs with itself, column c with columns - 1 - c.
    const std::size_t r = rows / 2;
    rowFft->transform(data + r * columns, front);
    for (std::size_t c = 0; c < columns / 2; ++c) pair(r + rows * c, front[c], front[columns - 1 - c], r, c);
  }

  std::size_t rows, columns;  // columns 1: one kissfft transform of all points
  kissfft<double> columnFft;  // `rows` points
  std::optional<kissfft<double>> rowFft;  // `columns` points
  std::vector<Complex> fineTurns;    // e^(-2 pi i k / h), k < rows
  std::vector<Complex> coarseTurns;  // e^(-2 pi i k rows / h), k < columns
  std::vector<Complex> untangling;   // e^(-2 pi i k / n), k = 0 .. n/4
  std::vector<Complex> fineUntangling;    // e^(-2 pi i k / n), k < rows
  std::vector<Complex> coarseUntangling;  // e^(-2 pi i k rows / n), k < columns
};

RealFft::RealFft(std::size_t points) : half_(checkedHalf(points)), plan_(std::make_unique<const Plan>(half_)) {}

RealFft::~RealFft() = default;

void RealFft::forward(std::span<const double> in, std::span<std::complex<double>> out) const {
  if (in.size() != 2 * half_ || out.size() != half_ + 1) throw std::invalid_argument("RealFft::forward: wrong sizes");
  if (plan_->columns == 1) {
    // std::complex is laid out as two doubles, so the points are read as n/2 complex ones in place.
    plan_->columnFft.transform(reinterpret_cast<const Complex*>(in.data()), out.data());
    untangle(out, plan_->untangling);
    return;
  }
  const WorkingMemory working(in.size());
  std::copy(in.begin(), in.end(), working.doubles().begin());
  forwardOverwriting(working.doubles(), out);
}

void RealFft::forwardOverwriting(std::span<double> in, std::span<std::complex<double>> out) const {
  if (in.size() != 2 * half_ || out.size() != half_ + 1) throw std::invalid_argument("RealFft::forward: wrong sizes");
  if (plan_->columns == 1) {
    plan_->transform(reinterpret_cast<Complex*>(in.data()), out.data());
    untangle(out, plan_->untangling);
    return;
  }
  plan_->forwardReal(reinterpret_cast<Complex*>(in.data()), out.data());
}

void RealFft::inverse(std::span<const std::complex<double>> in, std::span<double> out) const {
  const std::size_t h = half_;
  if (in.size() != h + 1 || out.size() != 2 * h) throw std::invalid_argument("RealFft::inverse: wrong sizes");
  // Z[k] = E + i O with E = X[k] + conj X[h-k] and O = (X[k] - conj X[h-k]) conj W^k (twice the
  // forward's, so the inverse transform of n/2 points gives the full sum of n). The inverse
  // transform is the forward one of the conjugates, conjugated.
  const std::vector<Complex>& turns = plan_->untangling;
  std::vector<Complex> z(h);
  for (std::size_t k = 0; k < h; ++k) {
    const Complex a = k == 0 ? Complex(in[0].real(), 0) : in[k];
    const Complex b = k == 0 ? Complex(in[h].real(), 0) : std::conj(in[h - k]);
    const Complex twiddle = k <= h / 2 ? turns[k] : -std::conj(turns[h - k]);
    z[k] = std::conj((a + b) + Complex(0, 1) * ((a - b) * std::conj(twiddle)));
  }
  plan_->transform(z.data(), reinterpret_cast<Complex*>(out.data()));
  for (std::size_t j = 1; j < out.size(); j += 2) out[j] = -out[j];
}

WorkingMemory::WorkingMemory(std::size_t count) : count_(count) {
  {
    const SpinLock lock(keptBusy);
    for (std::size_t i = 0; i < kKeptBuffers; ++i) {
      if (keptBuffers[i] && keptSizes[i] == count) {
        store_ = std::move(keptBuffers[i]);
        std::rotate(keptBuffers + i, keptBuffers + i + 1, keptBuffers + kKeptBuffers);
        std::rotate(keptSizes + i, keptSizes + i + 1, keptSizes + kKeptBuffers);
        break;
      }
    }
  }
  if (!store_) store_ = std::make_unique_for_overwrite<double[]>(count);
}

WorkingMemory::~WorkingMemory() {
  std::unique_ptr<double[]> oldest;  // freed after the lock is let go
  const SpinLock lock(keptBusy);
  oldest = std::move(keptBuffers[kKeptBuffers - 1]);
  std::rotate(keptBuffers, keptBuffers + kKeptBuffers - 1, keptBuffers + kKeptBuffers);
  std::rotate(keptSizes, keptSizes + kKeptBuffers - 1, keptSizes + kKeptBuffers);
  keptBuffers[0] = std::move(store_);
  keptSizes[0] = count_;
}

std::span<std::complex<double>> WorkingMemory::complexes(std::size_t offset, std::size_t count) const {
  if (offset + 2 * count > count_) throw std::invalid_argument("WorkingMemory::complexes: past the end");
  return {reinterpret_cast<std::complex<double>*>(store_.get() + offset), count};
}

std::shared_ptr<const RealFft> realFftFor(std::size_t points) {
  constexpr std::size_t kLargestKept = std::size_t{1} << 20;
  constexpr std::size_t kKept = 4;
  if (points > kLargestKept) return std::make_shared<const RealFft>(points);
  static std::atomic_flag busy = ATOMIC_FLAG_INIT;
  static std::shared_ptr<const RealFft> kept[kKept];  // the last used first
  {
    const SpinLock lock(busy);
    for (std::size_t i = 0; i < kKept; ++i) {
      if (kept[i] && kept[i]->points() == points) {
        std::rotate(kept, kept + i, kept + i + 1);
        return kept[0];
      }
    }
  }
  auto made = std::make_shared<const RealFft>(points);
  std::shared_ptr<const RealFft> oldest;  // released after the lock is let go
  const SpinLock lock(busy);
  oldest = std::move(kept[kKept - 1]);
  std::rotate(kept, kept + kKept - 1, kept + kKept);
  kept[0] = made;
  return made;
}

}  // namespace dorvane::spectra
