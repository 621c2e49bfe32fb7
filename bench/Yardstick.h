// Yardsticks measured in the same run as the figure they frame: a memset and
// a memcpy of a frame. Figures are reported as multiples of them, which stay
// meaningful on a shared, noisy machine where absolute times do not.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace tw::bench {

// Median time of one memset (or memcpy) of `bytes`, in nanoseconds.
inline double yardstickNanos(size_t bytes, bool copy = false) {
  std::vector<unsigned char> a(bytes, 1), b(bytes, 2);
  std::vector<double> samples;
  for (int round = 0; round < 101; ++round) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 8; ++i) {
      if (copy)
        std::memcpy(a.data(), b.data(), bytes);
      else
        std::memset(a.data(), i, bytes);
      benchmark::ClobberMemory();
    }
    const auto t1 = std::chrono::steady_clock::now();
    samples.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / 8);
  }
  std::nth_element(samples.begin(), samples.begin() + 50, samples.end());
  return samples[50];
}

// Runs `body` in the benchmark loop and reports its time as a multiple of the
// yardstick in the counter `name` (e.g. "memsets").
template <typename Body>
void measureAgainst(benchmark::State& state, double yardstickNs, const char* name, Body body) {
  const auto t0 = std::chrono::steady_clock::now();
  int64_t n = 0;
  for (auto _ : state) {
    body();
    benchmark::ClobberMemory();
    ++n;
  }
  const auto t1 = std::chrono::steady_clock::now();
  if (n > 0)
    state.counters[name] =
        std::chrono::duration<double, std::nano>(t1 - t0).count() / double(n) / yardstickNs;
}

}  // namespace tw::bench
