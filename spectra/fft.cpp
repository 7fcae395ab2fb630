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
// the four steps cost what one kissfft transform does; above it they win (2^18: 15 ms against 22),
// below it they lose (2^14: 0.46 ms against 0.42).
constexpr std::size_t kFourStepsFrom = std::size_t{1} << 16;

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
    }
  }

  // data: h points, overwritten; out: h points.
  void transform(Complex* data, Complex* out) const {
    if (columns == 1) {
      columnFft.transform(data, out);
      return;
    }
    // A block of columns or rows, and one column's transform before it is turned.
    std::vector<Complex> scratch(kBlock * std::max(rows, columns) + rows);
    Complex* const block = scratch.data();
    Complex* const column = scratch.data() + kBlock * std::max(rows, columns);
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
    for (std::size_t r = 0; r < rows; r += kBlock) {
      for (std::size_t j = 0; j < kBlock; ++j) rowFft->transform(data + (r + j) * columns, block + j * columns);
      for (std::size_t c = 0; c < columns; ++c)
        for (std::size_t j = 0; j < kBlock; ++j) out[r + j + rows * c] = block[j * columns + c];
    }
  }

  std::size_t rows, columns;  // columns 1: one kissfft transform of all points
  kissfft<double> columnFft;  // `rows` points
  std::optional<kissfft<double>> rowFft;  // `columns` points
  std::vector<Complex> fineTurns;    // e^(-2 pi i k / h), k < rows
  std::vector<Complex> coarseTurns;  // e^(-2 pi i k rows / h), k < columns
  std::vector<Complex> untangling;   // e^(-2 pi i k / n), k = 0 .. n/4
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
  std::vector<double> working(in.begin(), in.end());
  forwardOverwriting(working, out);
}

void RealFft::forwardOverwriting(std::span<double> in, std::span<std::complex<double>> out) const {
  if (in.size() != 2 * half_ || out.size() != half_ + 1) throw std::invalid_argument("RealFft::forward: wrong sizes");
  plan_->transform(reinterpret_cast<Complex*>(in.data()), out.data());
  untangle(out, plan_->untangling);
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

std::shared_ptr<const RealFft> realFftFor(std::size_t points) {
  constexpr std::size_t kLargestKept = std::size_t{1} << 20;
  constexpr std::size_t kKept = 4;
  if (points > kLargestKept) return std::make_shared<const RealFft>(points);
  // A spin lock: the standard mutex is missing from the Windows toolchain, and the lock is held only
  // for a look-up, never while a transform is made.
  static std::atomic_flag busy = ATOMIC_FLAG_INIT;
  static std::shared_ptr<const RealFft> kept[kKept];  // the last used first
  const auto lookUp = [&]() -> std::shared_ptr<const RealFft> {
    while (busy.test_and_set(std::memory_order_acquire)) {
    }
    std::shared_ptr<const RealFft> found;
    for (std::size_t i = 0; i < kKept && !found; ++i) {
      if (kept[i] && kept[i]->points() == points) {
        found = kept[i];
        std::rotate(kept, kept + i, kept + i + 1);
      }
    }
    busy.clear(std::memory_order_release);
    return found;
  };
  if (std::shared_ptr<const RealFft> found = lookUp()) return found;
  auto made = std::make_shared<const RealFft>(points);
  while (busy.test_and_set(std::memory_order_acquire)) {
  }
  std::rotate(kept, kept + kKept - 1, kept + kKept);
  kept[0] = made;
  busy.clear(std::memory_order_release);
  return made;
}

}  // namespace dorvane::spectra
