// Waits between attempts against a server that fails: exponential, with full jitter.
//
// A million clients that failed together must not come back together: each wait is drawn at
// random between zero and a cap that doubles with every failure in a row, up to the longest.
// The random source is seeded by each process (and each object), never by the build, so two
// copies of a game never draw the same waits.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>

namespace ZarnSdk {

// A seed of this process's own (and of this moment's), never the same in two processes.
inline uint64_t ProcessRandomSeed() {
  uint64_t seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                  static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) << 1;
  try {
    std::random_device device;
    seed ^= uint64_t{device()} << 32 ^ device();
  } catch (...) {
    // No entropy source: the clocks still differ from process to process.
  }
  return seed;
}

// A wait drawn uniformly in [0, cap].
inline std::chrono::milliseconds FullJitter(std::chrono::milliseconds cap, std::mt19937_64& random) {
  return std::chrono::milliseconds(std::uniform_int_distribution<int64_t>(0, std::max<int64_t>(cap.count(), 0))(random));
}

class JitteredBackoff {
 public:
  JitteredBackoff(std::chrono::milliseconds first, std::chrono::milliseconds longest)
      : first_(std::max(first, std::chrono::milliseconds(1))), longest_(std::max(longest, first_)),
        random_(ProcessRandomSeed()) {}

  // The wait after one more failure in a row: uniform in [0, min(longest, first * 2^(n-1))].
  std::chrono::milliseconds Next() {
    const std::chrono::milliseconds cap = Cap();
    failures_ = std::min(failures_ + 1, 62);
    return FullJitter(cap, random_);
  }
  void Reset() { failures_ = 0; }
  bool Failing() const { return failures_ > 0; }

 private:
  // The cap the next wait is drawn under.
  std::chrono::milliseconds Cap() const {
    const int shift = std::min(failures_, 40);
    if (first_.count() > (longest_.count() >> shift)) return longest_;
    return first_ * (int64_t{1} << shift);
  }

  const std::chrono::milliseconds first_;
  const std::chrono::milliseconds longest_;
  int failures_ = 0;
  std::mt19937_64 random_;
};

}  // namespace ZarnSdk
