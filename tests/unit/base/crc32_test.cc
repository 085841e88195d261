#include "base/crc32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

std::uint32_t crcOf(const std::string& text, bool folding) {
  Crc32 crc(folding);
  crc.add(text.data(), text.size());
  return crc.get();
}

// The published check values of CRC-32 (ISO-HDLC), by both ways of
// computing it.
TEST(Crc32, GivesThePublishedValues) {
  const struct {
    std::string text;
    std::uint32_t crc;
  } vectors[] = {
      {"", 0x00000000u},
      {"a", 0xE8B7BE43u},
      {"abc", 0x352441C2u},
      {"123456789", 0xCBF43926u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
      {std::string(32, '\0'), 0x190A55ADu},
      {std::string(32, '\xFF'), 0xFF6CAB0Bu},
  };
  for (bool folding : {false, true}) {
    for (const auto& vector : vectors) {
      EXPECT_EQ(vector.crc, crcOf(vector.text, folding)) << vector.text << " folding " << folding;
    }
  }
}

// Folding 64 bytes a step gives what the tables give, for every length
// around its block sizes, any alignment and any split into pieces.
TEST(Crc32, FoldingAgreesWithTheTablesAtEveryLengthAndSplit) {
  if (!Crc32::hasFoldingInstructions()) GTEST_SKIP() << "no carry-less multiply here";
  std::mt19937 random(20261208);
  std::vector<unsigned char> bytes(4096 + 3);
  for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(random());
  for (std::size_t size = 0; size <= 300; ++size) {
    for (std::size_t offset = 0; offset < 3; ++offset) {
      Crc32 tables(false);
      tables.add(bytes.data() + offset, size);
      Crc32 folded(true);
      const std::size_t first = size / 3;
      folded.add(bytes.data() + offset, first);
      folded.add(bytes.data() + offset + first, size - first);
      ASSERT_EQ(tables.get(), folded.get()) << "size " << size << " offset " << offset;
    }
  }
  EXPECT_EQ(crcOf(std::string(bytes.begin(), bytes.end()), false),
            crcOf(std::string(bytes.begin(), bytes.end()), true));
}

}  // namespace
