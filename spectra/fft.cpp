// RealFft: kissfft transforms the n real points as n/2 complex ones (even points the real parts, odd
// ones the imaginary), and the two interleaved halves are untangled; the inverse runs that backwards.
#include "spectra/fft.h"

#include <algorithm>
#include <atomic>
#include <numbers>
#include <stdexcept>
#include <vector>

#include <kissfft.hh>

namespace dorvane::spectra {

struct RealFft::Plan {
  explicit Plan(std::size_t half) : forward(half, false), twiddles(half / 2 + 1) {
    for (std::size_t k = 0; k < twiddles.size(); ++k)
      twiddles[k] = std::polar(1.0, -std::numbers::pi * static_cast<double>(k) / static_cast<double>(half));
  }
  kissfft<double> forward;                     // n/2 complex points
  std::vector<std::complex<double>> twiddles;  // e^(-2 pi i k / n), k = 0 .. n/4
};

namespace {
std::size_t checkedHalf(std::size_t points) {
  if (points < 2 || points % 2 != 0) throw std::invalid_argument("RealFft: the size must be even and at least 2");
  return points / 2;
}
}  // namespace

RealFft::RealFft(std::size_t points) : half_(checkedHalf(points)), plan_(std::make_unique<const Plan>(half_)) {}

RealFft::~RealFft() = default;

void RealFft::forward(std::span<const double> in, std::span<std::complex<double>> out) const {
  const std::size_t h = half_;
  if (in.size() != 2 * h || out.size() != h + 1) throw std::invalid_argument("RealFft::forward: wrong sizes");
  // std::complex is laid out as two doubles, so the points are read as n/2 complex ones in place.
  plan_->forward.transform(reinterpret_cast<const std::complex<double>*>(in.data()), out.data());
  // With Z the transform of z[m] = x[2m] + i x[2m+1]: X[k] = E + W^k O, E = (Z[k] + conj Z[h-k]) / 2,
  // O = (Z[k] - conj Z[h-k]) / 2i, W = e^(-2 pi i / n); bins k and h-k come from the same pair.
  const std::complex<double> z0 = out[0];
  for (std::size_t k = 1; k <= h / 2; ++k) {
    const std::size_t m = h - k;
    const std::complex<double> a = out[k], b = out[m];
    const std::complex<double> even = 0.5 * (a + std::conj(b));
    const std::complex<double> odd = std::complex<double>(0, -0.5) * (a - std::conj(b));
    const std::complex<double> turned = plan_->twiddles[k] * odd;
    out[k] = even + turned;
    if (m != k) out[m] = std::conj(even - turned);  // W^(h-k) = -conj W^k
  }
  out[0] = {z0.real() + z0.imag(), 0};
  out[h] = {z0.real() - z0.imag(), 0};
}

void RealFft::inverse(std::span<const std::complex<double>> in, std::span<double> out) const {
  const std::size_t h = half_;
  if (in.size() != h + 1 || out.size() != 2 * h) throw std::invalid_argument("RealFft::inverse: wrong sizes");
  // Z[k] = E + i O with E = X[k] + conj X[h-k] and O = (X[k] - conj X[h-k]) conj W^k (twice the
  // forward's, so the inverse transform of n/2 points gives the full sum of n).
  std::vector<std::complex<double>> z(h);
  for (std::size_t k = 0; k < h; ++k) {
    const std::complex<double> a = k == 0 ? std::complex<double>(in[0].real(), 0) : in[k];
    const std::complex<double> b = k == 0 ? std::complex<double>(in[h].real(), 0) : std::conj(in[h - k]);
    const std::complex<double> twiddle = k <= h / 2 ? plan_->twiddles[k] : -std::conj(plan_->twiddles[h - k]);
    z[k] = (a + b) + std::complex<double>(0, 1) * ((a - b) * std::conj(twiddle));
  }
  const kissfft<double> backward(h, true);
  backward.transform(z.data(), reinterpret_cast<std::complex<double>*>(out.data()));
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
