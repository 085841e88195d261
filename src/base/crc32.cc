#include "base/crc32.h"

#include <array>
#include <cstring>

#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
#include <cpuid.h>
#include <immintrin.h>
#define TVPAT_CRC32_FOLDING 1
#endif

namespace {

using Table = std::array<std::array<std::uint32_t, 256>, 16>;

// tables[0] is the classic byte table; tables[k] advances a byte k more
// bytes, so that sixteen bytes are looked up independently of each other.
constexpr Table makeTables() {
  Table tables{};
  for (std::uint32_t byte = 0; byte < 256; ++byte) {
    std::uint32_t value = byte;
    for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? 0xEDB88320u ^ (value >> 1) : value >> 1;
    tables[0][byte] = value;
  }
  for (std::size_t k = 1; k < 16; ++k) {
    for (std::size_t byte = 0; byte < 256; ++byte) {
      const std::uint32_t previous = tables[k - 1][byte];
      tables[k][byte] = (previous >> 8) ^ tables[0][previous & 0xFF];
    }
  }
  return tables;
}

constexpr Table kTables = makeTables();

std::uint32_t loadLittleEndian(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint32_t addByTables(std::uint32_t state, const unsigned char* bytes, std::size_t size) {
  const Table& t = kTables;
  while (size >= 16) {
    const std::uint32_t a = loadLittleEndian(bytes) ^ state;
    const std::uint32_t b = loadLittleEndian(bytes + 4);
    const std::uint32_t c = loadLittleEndian(bytes + 8);
    const std::uint32_t d = loadLittleEndian(bytes + 12);
    state = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
            t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
            t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
            t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
    bytes += 16;
    size -= 16;
  }
  while (size-- > 0) state = t[0][(state ^ *bytes++) & 0xFF] ^ (state >> 8);
  return state;
}

#ifdef TVPAT_CRC32_FOLDING

#define TVPAT_FOLDING_TARGET __attribute__((target("pclmul,sse4.1")))

TVPAT_FOLDING_TARGET inline __m128i load(const unsigned char* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// One lane of 128 bits carried forward by the distance the constants stand
// for, plus the data it meets there.
TVPAT_FOLDING_TARGET inline __m128i fold(__m128i lane, __m128i constants, __m128i data) {
  const __m128i low = _mm_clmulepi64_si128(lane, constants, 0x00);
  const __m128i high = _mm_clmulepi64_si128(lane, constants, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), data);
}

// Folds size bytes (64 or more, a multiple of 16) into the register with
// carry-less multiplication, as Gopal et al. describe it for reflected
// polynomials ("Fast CRC Computation for Generic Polynomials Using PCLMULQDQ
// Instruction", Intel, 2009): four lanes of 128 bits are carried 512 bits
// forward at a time, folded into one, and the 128 bits reduced to 32 by
// Barrett's method. The constants are x^n mod P for the fold distances,
// bit-reflected, and the reduction's quotient and polynomial. A program
// started by Windows may find its stack aligned to 4 bytes only; the vector
// values spilled to it need 16.
TVPAT_FOLDING_TARGET __attribute__((force_align_arg_pointer)) std::uint32_t addByFolding(
    std::uint32_t state, const unsigned char* bytes, std::size_t size) {
  const __m128i k1k2 = _mm_set_epi64x(0x01C6E41596LL, 0x0154442BD4LL);
  const __m128i k3k4 = _mm_set_epi64x(0x00CCAA009ELL, 0x01751997D0LL);
  const __m128i k5 = _mm_set_epi64x(0, 0x0163CD6124LL);
  const __m128i barrett = _mm_set_epi64x(0x01F7011641LL, 0x01DB710641LL);
  const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);

  __m128i x1 = _mm_xor_si128(load(bytes), _mm_cvtsi32_si128(static_cast<int>(state)));
  __m128i x2 = load(bytes + 16);
  __m128i x3 = load(bytes + 32);
  __m128i x4 = load(bytes + 48);
  bytes += 64;
  size -= 64;
  while (size >= 64) {
    x1 = fold(x1, k1k2, load(bytes));
    x2 = fold(x2, k1k2, load(bytes + 16));
    x3 = fold(x3, k1k2, load(bytes + 32));
    x4 = fold(x4, k1k2, load(bytes + 48));
    bytes += 64;
    size -= 64;
  }
  x1 = fold(x1, k3k4, x2);
  x1 = fold(x1, k3k4, x3);
  x1 = fold(x1, k3k4, x4);
  while (size >= 16) {
    x1 = fold(x1, k3k4, load(bytes));
    bytes += 16;
    size -= 16;
  }

  // 128 bits to 64, then to 32 bits.
  __m128i x2r = _mm_clmulepi64_si128(x1, k3k4, 0x10);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2r);
  x2r = _mm_srli_si128(x1, 4);
  x1 = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00);
  x1 = _mm_xor_si128(x1, x2r);
  // Barrett's reduction to the register's 32 bits.
  x2r = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), barrett, 0x10);
  x2r = _mm_clmulepi64_si128(_mm_and_si128(x2r, low32), barrett, 0x00);
  x1 = _mm_xor_si128(x1, x2r);
  return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}

#endif  // TVPAT_CRC32_FOLDING

}  // namespace

Crc32::Crc32(bool useVectorUnit) : folding(useVectorUnit && hasFoldingInstructions()) {}

bool Crc32::hasFoldingInstructions() {
#ifdef TVPAT_CRC32_FOLDING
  static const bool present = [] {
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    // __get_cpuid checks first that the processor has CPUID at all.
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    return (ecx & bit_PCLMUL) != 0 && (ecx & bit_SSE4_1) != 0;
  }();
  return present;
#else
  return false;
#endif
}

void Crc32::add(const void* data, std::size_t size) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
#ifdef TVPAT_CRC32_FOLDING
  if (folding && size >= 64) {
    const std::size_t folded = size & ~static_cast<std::size_t>(15);
    state = addByFolding(state, bytes, folded);
    bytes += folded;
    size -= folded;
  }
#endif
  state = addByTables(state, bytes, size);
}
