// Crc32 is the CRC-32 of zip, PNG and Ethernet (reflected polynomial
// 0xEDB88320, register and result inverted), fed a piece at a time. It finds
// the damage a cut-off download or a bad disk does to a file: every change
// of up to 32 bits in a row, and all but one in four thousand million of the
// others. It is no defence against anyone who changes a file on purpose.
//
// Where the processor multiplies without carries and the system keeps the
// vector registers across task switches (Windows 98, Windows 2000 and
// later), Crc32 folds 64 bytes a step with those instructions; elsewhere it
// looks up tables sixteen bytes a step. Both give the same value.
#ifndef SRC_BASE_CRC32_H_
#define SRC_BASE_CRC32_H_

#include <cstddef>
#include <cstdint>

class Crc32 {
 public:
  // useVectorUnit: whether the system saves the vector registers, so that
  // the folding instructions may be used where the processor has them.
  explicit Crc32(bool useVectorUnit = false);

  void add(const void* data, std::size_t size);
  std::uint32_t get() const { return ~state; }

  // Whether this processor has the instructions the folding needs.
  static bool hasFoldingInstructions();

 private:
  std::uint32_t state = 0xFFFFFFFFu;
  bool folding = false;
};

#endif  // SRC_BASE_CRC32_H_
