// Small, fast, reproducible random numbers for the log generator.
#pragma once

#include <cmath>
#include <cstdint>

namespace korva {

// splitmix64: turns one seed into well-mixed words (used to fill the xoshiro state).
inline std::uint64_t splitMix64(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// xoshiro256**: the standard library engines are slower and their distributions are not
// reproducible across implementations, which would make seeded output differ between builds.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) {
    for (auto& word : state_) word = splitMix64(seed);
  }

  std::uint64_t next() {
    const std::uint64_t result = rotl(state_[1] * 5, 7) * 9;
    const std::uint64_t t = state_[1] << 17;
    state_[2] ^= state_[0];
    state_[3] ^= state_[1];
    state_[1] ^= state_[2];
    state_[0] ^= state_[3];
    state_[2] ^= t;
    state_[3] = rotl(state_[3], 45);
    return result;
  }

  // Uniform in [0, n); n == 0 gives 0. The multiply-shift bias is far below anything visible here.
  std::uint64_t below(std::uint64_t n) {
    return static_cast<std::uint64_t>((static_cast<Wide>(next()) * n) >> 64);
  }

  // Uniform in [lo, hi], both inclusive.
  std::int64_t range(std::int64_t lo, std::int64_t hi) {
    return lo + static_cast<std::int64_t>(below(static_cast<std::uint64_t>(hi - lo) + 1));
  }

  // Uniform in [0, 1).
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

  bool chance(double p) { return unit() < p; }

  // Standard normal (Box-Muller; one value per call keeps the state simple).
  double normal() {
    const double u1 = 1.0 - unit();  // (0, 1]: log stays finite
    const double u2 = unit();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
  }

  template <typename T, std::size_t N>
  const T& pick(const T (&items)[N]) {
    return items[below(N)];
  }

 private:
  __extension__ typedef unsigned __int128 Wide;  // silences -Wpedantic; GCC and Clang both have it

  static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

  std::uint64_t state_[4];
};

}  // namespace korva
