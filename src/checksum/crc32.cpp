#include "checksum/crc32.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#define ZELVANE_X86 1
#include <immintrin.h>
#include <wmmintrin.h>
#endif

namespace zelvane::crc32 {
namespace {

constexpr std::uint32_t kPolynomial = 0x04C11DB7;

constexpr std::uint32_t Reverse32(std::uint32_t v) {
  std::uint32_t out = 0;
  for (int bit = 0; bit < 32; ++bit) {
    out = (out << 1) | ((v >> bit) & 1);
  }
  return out;
}

// Row 0 is the classic byte table of the reflected CRC, built from the generator polynomial in normal bit
// order and then mirrored. Row k holds what a byte does to the register when k zero bytes follow it, which
// lets sixteen table lookups stand for sixteen bytes at once.
struct Tables {
  std::array<std::array<std::uint32_t, 256>, 16> row{};
};

constexpr Tables BuildTables() {
  Tables t;
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t v = Reverse32(i);  // the byte's bits reversed, standing in the top byte
    for (int k = 0; k < 8; ++k) {
      v = (v & 0x80000000u) != 0 ? (v << 1) ^ kPolynomial : v << 1;
    }
    t.row[0][i] = Reverse32(v);
  }
  for (std::size_t k = 1; k < 16; ++k) {
    for (std::size_t i = 0; i < 256; ++i) {
      const std::uint32_t prev = t.row[k - 1][i];
      t.row[k][i] = (prev >> 8) ^ t.row[0][prev & 0xFF];
    }
  }
  return t;
}

// Built by the compiler, so there is no first-call set-up to race on and nothing to build at run time.
constexpr Tables kTables = BuildTables();
static_assert(kTables.row[0][1] == 0x77073096 && kTables.row[0][255] == 0x2D02EF8D);

inline std::uint32_t Load32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Works on the register itself (the CRC complemented).
std::uint32_t UpdateRegister(std::uint32_t reg, const unsigned char* p, std::size_t len) {
  const auto& t = kTables.row;
  while (len >= 16) {
    const std::uint32_t a = Load32(p) ^ reg;
    const std::uint32_t b = Load32(p + 4);
    const std::uint32_t c = Load32(p + 8);
    const std::uint32_t d = Load32(p + 12);
    reg = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
          t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^ t[7][c & 0xFF] ^
          t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^ t[3][d & 0xFF] ^
          t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
    p += 16;
    len -= 16;
  }
  while (len-- > 0) {
    reg = (reg >> 8) ^ t[0][(reg ^ *p++) & 0xFF];
  }
  return reg;
}

#if defined(ZELVANE_X86)

// Folding constants for the reflected polynomial: x^(4*128+32), x^(4*128-32), x^(128+32), x^(128-32) and
// x^64 modulo P, each bit-reflected and shifted left by one; then P itself and the Barrett quotient
// floor(x^64 / P), both reflected.
alignas(16) constexpr std::uint64_t kFold4[2] = {0x0154442BD4ull, 0x01C6E41596ull};
alignas(16) constexpr std::uint64_t kFold1[2] = {0x01751997D0ull, 0x00CCAA009Eull};
alignas(16) constexpr std::uint64_t kFold64[2] = {0x0163CD6124ull, 0};
alignas(16) constexpr std::uint64_t kBarrett[2] = {0x01DB710641ull, 0x01F7011641ull};

__attribute__((target("pclmul,sse4.1"))) inline __m128i Load128(const unsigned char* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// One fold step: x times the two halves of k, added to the next 16 bytes.
__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
  const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
  const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

// Folds the remaining `len` bytes (a multiple of 16) into x, 16 at a time, and reduces x to the register.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t FinishFold(__m128i x1, const unsigned char* p,
                                                                  std::size_t len) {
  __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold1));
  while (len >= 16) {
    x1 = Fold(x1, k, Load128(p));
    p += 16;
    len -= 16;
  }

  // 128 bits to 64.
  const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
  __m128i x = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k, 0x10));
  k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kFold64));
  x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low32), k, 0x00), _mm_srli_si128(x, 4));

  // Barrett reduction to 32 bits.
  k = _mm_load_si128(reinterpret_cast<const __m128i*>(kBarrett));
  __m128i q = _mm_clmulepi64_si128(_mm_and_si128(x, low32), k, 0x10);
  q = _mm_clmulepi64_si128(_mm_and_si128(q, low32), k, 0x00);
  x = _mm_xor_si128(x, q);
  return static_cast<std::uint32_t>(_mm_extract_epi32(x, 1));
}

// Folds `len` bytes (at least 64, a multiple of 16) into the register with PCLMULQDQ: four 128-bit lanes
// run side by side over 64-byte steps and are folded into one, which FinishFold takes on.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t FoldRegister(std::uint32_t reg, const unsigned char* p,
                                                                    std::size_t len) {
  __m128i x1 = _mm_xor_si128(Load128(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
  __m128i x2 = Load128(p + 16);
  __m128i x3 = Load128(p + 32);
  __m128i x4 = Load128(p + 48);
  p += 64;
  len -= 64;

  __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold4));
  while (len >= 64) {
    x1 = Fold(x1, k, Load128(p));
    x2 = Fold(x2, k, Load128(p + 16));
    x3 = Fold(x3, k, Load128(p + 32));
    x4 = Fold(x4, k, Load128(p + 48));
    p += 64;
    len -= 64;
  }

  k = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold1));
  x1 = Fold(x1, k, x2);
  x1 = Fold(x1, k, x3);
  x1 = Fold(x1, k, x4);
  return FinishFold(x1, p, len);
}

// Not on Win32: there GCC keeps the stack aligned to 16 bytes only, and a 512-bit register it spilled
// would be stored misaligned.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 10 && !defined(_WIN32)
#define ZELVANE_VPCLMUL 1
// The same folding on 512-bit registers where the processor has VPCLMULQDQ: four registers of four lanes
// each run side by side over 256-byte steps, so the CRC keeps up with reading a file from memory. Folding
// constants as above for the distances 16*128 (the step) and 3*128, 2*128 (lanes into the last one).
alignas(16) constexpr std::uint64_t kFold16[2] = {0x011542778Aull, 0x01322D1430ull};
alignas(16) constexpr std::uint64_t kFold3[2] = {0x003DB1ECDCull, 0x0174359406ull};
alignas(16) constexpr std::uint64_t kFold2[2] = {0x00F1DA05AAull, 0x015A546366ull};

#define ZELVANE_TARGET_512 __attribute__((target("avx512f,avx512vl,vpclmulqdq,pclmul,sse4.1")))

ZELVANE_TARGET_512 inline __m512i Load512(const unsigned char* at) {
  return _mm512_loadu_si512(at);
}

ZELVANE_TARGET_512 inline __m512i Broadcast(const std::uint64_t (&k)[2]) {
  return _mm512_maskz_broadcast_i32x4(0xFFFF, _mm_load_si128(reinterpret_cast<const __m128i*>(k)));
}

ZELVANE_TARGET_512 inline __m512i Fold512(__m512i x, __m512i k, __m512i next) {
  const __m512i lo = _mm512_clmulepi64_epi128(x, k, 0x00);
  const __m512i hi = _mm512_clmulepi64_epi128(x, k, 0x11);
  return _mm512_ternarylogic_epi64(lo, hi, next, 0x96);  // lo ^ hi ^ next
}

// `len` at least 256, a multiple of 16.
ZELVANE_TARGET_512 std::uint32_t FoldRegister512(std::uint32_t reg, const unsigned char* p, std::size_t len) {
  __m512i x1 = _mm512_xor_si512(
      Load512(p), _mm512_inserti32x4(_mm512_setzero_si512(), _mm_cvtsi32_si128(static_cast<int>(reg)), 0));
  __m512i x2 = Load512(p + 64);
  __m512i x3 = Load512(p + 128);
  __m512i x4 = Load512(p + 192);
  p += 256;
  len -= 256;

  __m512i k = Broadcast(kFold16);
  while (len >= 256) {
    x1 = Fold512(x1, k, Load512(p));
    x2 = Fold512(x2, k, Load512(p + 64));
    x3 = Fold512(x3, k, Load512(p + 128));
    x4 = Fold512(x4, k, Load512(p + 192));
    p += 256;
    len -= 256;
  }

  k = Broadcast(kFold4);
  x1 = Fold512(x1, k, x2);
  x1 = Fold512(x1, k, x3);
  x1 = Fold512(x1, k, x4);

  // The four lanes of one register into its last.
  const __m128i k3 = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold3));
  const __m128i k2 = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold2));
  const __m128i k1 = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold1));
  __m128i x = _mm512_maskz_extracti32x4_epi32(0xF, x1, 3);
  x = Fold(_mm512_maskz_extracti32x4_epi32(0xF, x1, 0), k3, x);
  x = Fold(_mm512_maskz_extracti32x4_epi32(0xF, x1, 1), k2, x);
  x = Fold(_mm512_maskz_extracti32x4_epi32(0xF, x1, 2), k1, x);
  return FinishFold(x, p, len);
}
#endif

// For each set of line-end positions within 8 bytes (bit k: byte k is a line end), the byte shuffle that
// gathers the other bytes at the front, and how many they are.
struct Gather {
  std::array<std::array<unsigned char, 8>, 256> shuffle{};
  std::array<unsigned char, 256> count{};
};

constexpr Gather BuildGather() {
  Gather g;
  for (unsigned ends = 0; ends < 256; ++ends) {
    unsigned char n = 0;
    for (unsigned char k = 0; k < 8; ++k) {
      if ((ends & (1u << k)) == 0) g.shuffle[ends][n++] = k;
    }
    for (unsigned char k = n; k < 8; ++k)
      g.shuffle[ends][k] = 0x80;  // a zero byte, later overwritten
    g.count[ends] = n;
  }
  return g;
}

constexpr Gather kGather = BuildGather();

// Without a branch on the data: line ends fall in no pattern a predictor could learn in text. Each half of
// a 16-byte step is gathered by one shuffle and stored whole; only its kept bytes count, and the next store
// begins right after them. A store never passes the input position, so it stays inside `out`.
__attribute__((target("ssse3"))) std::size_t RemoveLineEndsSsse3(const unsigned char* in, std::size_t len,
                                                                 unsigned char* out) {
  const __m128i cr = _mm_set1_epi8(0x0D);
  const __m128i lf = _mm_set1_epi8(0x0A);
  std::size_t kept = 0;
  std::size_t i = 0;
  for (; i + 16 <= len; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    const auto ends =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf))));
    const unsigned low = ends & 0xFF;
    const unsigned high = ends >> 8;
    const __m128i lowShuffle = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kGather.shuffle[low].data()));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + kept), _mm_shuffle_epi8(v, lowShuffle));
    kept += kGather.count[low];
    const __m128i highShuffle =
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kGather.shuffle[high].data()));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + kept),
                     _mm_shuffle_epi8(_mm_srli_si128(v, 8), highShuffle));
    kept += kGather.count[high];
  }
  return kept + RemoveLineEndsPortable(in + i, len - i, out + kept);
}

#if defined(ZELVANE_VPCLMUL)
// With AVX-512 VBMI2 one compress instruction gathers the kept bytes of 64 at a time. It gathers into a
// register, stored whole; as above, a store never passes the input position.
__attribute__((target("avx512f,avx512bw,avx512vbmi2"))) std::size_t RemoveLineEndsVbmi2(
    const unsigned char* in, std::size_t len, unsigned char* out) {
  const __m512i cr = _mm512_set1_epi8(0x0D);
  const __m512i lf = _mm512_set1_epi8(0x0A);
  std::size_t kept = 0;
  std::size_t i = 0;
  for (; i + 64 <= len; i += 64) {
    const __m512i v = _mm512_loadu_si512(in + i);
    const __mmask64 keep = ~(_mm512_cmpeq_epi8_mask(v, cr) | _mm512_cmpeq_epi8_mask(v, lf));
    _mm512_storeu_si512(out + kept, _mm512_maskz_compress_epi8(keep, v));
    kept += static_cast<std::size_t>(__builtin_popcountll(keep));
  }
  return kept + RemoveLineEndsSsse3(in + i, len - i, out + kept);
}
#endif

#endif  // ZELVANE_X86

inline bool IsLineEnd(unsigned char b) {
  return b == 0x0D || b == 0x0A;
}

// Whether any byte of the word is zero; exact as a yes or no, whichever the byte order.
inline bool HasZeroByte(std::uint64_t v) {
  return ((v - 0x0101010101010101ull) & ~v & 0x8080808080808080ull) != 0;
}

}  // namespace

std::uint32_t Crc32UpdatePortable(std::uint32_t crc, const void* data, std::size_t len) {
  return ~UpdateRegister(~crc, static_cast<const unsigned char*>(data), len);
}

std::uint32_t Crc32UpdateClmul(std::uint32_t crc, const void* data, std::size_t len) {
#if defined(ZELVANE_X86)
  const auto* p = static_cast<const unsigned char*>(data);
  std::uint32_t reg = ~crc;
  if (len >= 64) {
    const std::size_t folded = len & ~static_cast<std::size_t>(15);
#if defined(ZELVANE_VPCLMUL)
    static const bool wide = [] {
      __builtin_cpu_init();
      return __builtin_cpu_supports("vpclmulqdq") && __builtin_cpu_supports("avx512f") &&
             __builtin_cpu_supports("avx512vl");
    }();
    reg = wide && folded >= 256 ? FoldRegister512(reg, p, folded) : FoldRegister(reg, p, folded);
#else
    reg = FoldRegister(reg, p, folded);
#endif
    p += folded;
    len -= folded;
  }
  return ~UpdateRegister(reg, p, len);
#else
  return Crc32UpdatePortable(crc, data, len);
#endif
}

bool HasClmul() {
#if defined(ZELVANE_X86)
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  }();
  return has;
#else
  return false;
#endif
}

std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t len) {
  static const bool clmul = HasClmul();
  return clmul ? Crc32UpdateClmul(crc, data, len) : Crc32UpdatePortable(crc, data, len);
}

std::size_t RemoveLineEndsPortable(const unsigned char* in, std::size_t len, unsigned char* out) {
  constexpr std::uint64_t kCr = 0x0D0D0D0D0D0D0D0Dull;
  constexpr std::uint64_t kLf = 0x0A0A0A0A0A0A0A0Aull;
  std::size_t kept = 0;
  std::size_t i = 0;
  for (; i + 8 <= len; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, in + i, 8);
    if (!HasZeroByte(word ^ kCr) && !HasZeroByte(word ^ kLf)) {
      std::memcpy(out + kept, &word, 8);
      kept += 8;
      continue;
    }
    for (std::size_t k = i; k < i + 8; ++k) {
      out[kept] = in[k];
      kept += IsLineEnd(in[k]) ? 0 : 1;
    }
  }
  for (; i < len; ++i) {
    out[kept] = in[i];
    kept += IsLineEnd(in[i]) ? 0 : 1;
  }
  return kept;
}

std::size_t RemoveLineEnds(const unsigned char* in, std::size_t len, unsigned char* out) {
#if defined(ZELVANE_X86)
  static const bool ssse3 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
  }();
#if defined(ZELVANE_VPCLMUL)
  static const bool vbmi2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi2");
  }();
  if (vbmi2 && ssse3) return RemoveLineEndsVbmi2(in, len, out);
#endif
  if (ssse3) return RemoveLineEndsSsse3(in, len, out);
#endif
  return RemoveLineEndsPortable(in, len, out);
}

}  // namespace zelvane::crc32
