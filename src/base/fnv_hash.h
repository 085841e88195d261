// FnvHash is the 64-bit FNV-1a hash of a run of bytes: quick, and different
// for different texts but by a negligible chance. It names a file's aside
// copy and tells one installation profile from another; it is no defence
// against anyone who makes two texts share a hash on purpose.
//
// Like the line reader, it is defined in this header: the platform layer
// uses it too, and links nothing of ours.
#ifndef SRC_BASE_FNV_HASH_H_
#define SRC_BASE_FNV_HASH_H_

#include <cstdint>

class FnvHash {
 public:
  void add(unsigned char byte) { value = (value ^ byte) * kPrime; }
  std::uint64_t get() const { return value; }

 private:
  static constexpr std::uint64_t kPrime = 1099511628211ull;
  std::uint64_t value = 14695981039346656037ull;
};

#endif  // SRC_BASE_FNV_HASH_H_
