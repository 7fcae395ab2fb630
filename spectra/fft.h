// The one Fourier transform of the project: real points to their half spectrum and back, over
// kissfft<double>, so that the FFT can be swapped here and nowhere else.
#pragma once

#include <complex>
#include <cstddef>
#include <memory>
#include <span>

namespace dorvane::spectra {

// A transform of a fixed even size n. forward: X[k] = sum_j x[j] e^(-2 pi i jk / n) for
// k = 0 .. n/2 (n/2 + 1 bins). inverse: x[j] = sum_k X[k] e^(+2 pi i jk / n) over all n bins, the
// upper ones taken as the conjugates of the lower (the imaginary parts of X[0] and X[n/2] are
// ignored); no 1/n. Both throw std::invalid_argument for spans of another size. The object does not
// change after construction, so threads may share it. From 2^18 points forward works on a copy of
// its input; forwardOverwriting does the same but uses `in` as its working space, leaving it
// undefined, and saves that copy.
class RealFft {
 public:
  explicit RealFft(std::size_t points);  // even, at least 2
  ~RealFft();
  RealFft(const RealFft&) = delete;
  RealFft& operator=(const RealFft&) = delete;

  std::size_t points() const { return 2 * half_; }
  void forward(std::span<const double> in, std::span<std::complex<double>> out) const;
  void forwardOverwriting(std::span<double> in, std::span<std::complex<double>> out) const;
  void inverse(std::span<const std::complex<double>> in, std::span<double> out) const;

 private:
  struct Plan;
  std::size_t half_;
  std::unique_ptr<const Plan> plan_;
};

// `count` doubles of working memory, not zeroed, taken from the few kept between calls and given back
// when the object ends, so that calls of the same size do not fault in fresh pages each time. Each
// object's memory is its own: threads may hold several at once.
class WorkingMemory {
 public:
  explicit WorkingMemory(std::size_t count);
  ~WorkingMemory();
  WorkingMemory(const WorkingMemory&) = delete;
  WorkingMemory& operator=(const WorkingMemory&) = delete;

  std::span<double> doubles() const { return {store_.get(), count_}; }
  // `count` complex numbers from the double at `offset`, two doubles each as std::complex guarantees.
  std::span<std::complex<double>> complexes(std::size_t offset, std::size_t count) const;

 private:
  std::size_t count_;
  std::unique_ptr<double[]> store_;
};

// A transform of `points` points, shared: making one costs more than using it at these sizes, so the
// few sizes used last are kept (up to 2^20 points), as FFT libraries keep their plans.
std::shared_ptr<const RealFft> realFftFor(std::size_t points);

}  // namespace dorvane::spectra
