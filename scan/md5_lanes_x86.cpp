// The vector kernels of Md5Lanes. Each function carries its own target attribute, so this file
// is built for the baseline CPU and a kernel runs only where the CPU was asked (md5_lanes.cpp).
// The steps are RFC 1321, 3.4, one lane per message; the words of 16 lanes' blocks are turned
// from rows (one block per register) into columns (one word of every block per register) first.
#include "scan/md5_lanes.h"

#if defined(__x86_64__)

// GCC 12's AVX-512 intrinsics pass an undefined vector as the unused merge source, which its
// own uninitialised-use check then reports inside the header.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include <utility>

namespace tovarek::md5_lanes_detail {
namespace {

// The sine-derived constants T[1..64] and the word order and shifts of the four rounds.
constexpr uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

#define TOVAREK_AVX512 __attribute__((target("avx512f"), always_inline)) inline
#define TOVAREK_AVX2 __attribute__((target("avx2"), always_inline)) inline

// ---- AVX-512: 16 lanes a register ----

// Rows r[0..15] (lane i's 16 words) into columns w[0..15] (word j of lanes 0..15).
TOVAREK_AVX512 void Transpose16(const __m512i r[16], __m512i w[16]) {
    __m512i t[16], u[16];
    for (int i = 0; i < 16; i += 2) {
        t[i] = _mm512_unpacklo_epi32(r[i], r[i + 1]);
        t[i + 1] = _mm512_unpackhi_epi32(r[i], r[i + 1]);
    }
    // u[4q + k], 128-bit part c: word 4c + k of lanes 4q..4q+3.
    for (int q = 0; q < 16; q += 4) {
        u[q] = _mm512_unpacklo_epi64(t[q], t[q + 2]);
        u[q + 1] = _mm512_unpackhi_epi64(t[q], t[q + 2]);
        u[q + 2] = _mm512_unpacklo_epi64(t[q + 1], t[q + 3]);
        u[q + 3] = _mm512_unpackhi_epi64(t[q + 1], t[q + 3]);
    }
    // For each k, a 4x4 transpose of 128-bit parts among u[k], u[4+k], u[8+k], u[12+k].
    for (int k = 0; k < 4; ++k) {
        __m512i v0 = _mm512_shuffle_i32x4(u[k], u[4 + k], 0x88);
        __m512i v1 = _mm512_shuffle_i32x4(u[k], u[4 + k], 0xDD);
        __m512i v2 = _mm512_shuffle_i32x4(u[8 + k], u[12 + k], 0x88);
        __m512i v3 = _mm512_shuffle_i32x4(u[8 + k], u[12 + k], 0xDD);
        w[k] = _mm512_shuffle_i32x4(v0, v2, 0x88);
        w[8 + k] = _mm512_shuffle_i32x4(v0, v2, 0xDD);
        w[4 + k] = _mm512_shuffle_i32x4(v1, v3, 0x88);
        w[12 + k] = _mm512_shuffle_i32x4(v1, v3, 0xDD);
    }
}

// The word each step adds (RFC 1321, 3.4: rounds take X[k] in the orders k = i, 1 + 5i, 5 + 3i
// and 7i, modulo 16) and the shift amounts of each round.
constexpr int WordOfStep(int i) {
    return i < 16 ? i : i < 32 ? (1 + 5 * i) % 16 : i < 48 ? (5 + 3 * i) % 16 : (7 * i) % 16;
}
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// Step I on every register: a = b + ((a + f(b, c, d) + X[k] + T[I]) <<< s), with (a, b, c, d)
// the state words turned one place further each step. vpternlogd does f in one instruction:
// F = b ? c : d (0xCA), G = d ? b : c (0xE4), H = b ^ c ^ d (0x96), I = c ^ (b | ~d) (0x39).
template <int I, size_t G>
TOVAREK_AVX512 void Step512(__m512i (&s)[4][G], const __m512i (&w)[G][16]) {
    constexpr int kRound = I / 16;
    constexpr int kFn = kRound == 0 ? 0xCA : kRound == 1 ? 0xE4 : kRound == 2 ? 0x96 : 0x39;
    constexpr int a = (64 - I) % 4, b = (65 - I) % 4, c = (66 - I) % 4, d = (67 - I) % 4;
    for (size_t g = 0; g < G; ++g) {
        __m512i x = _mm512_add_epi32(w[g][WordOfStep(I)], _mm512_set1_epi32(kT[I]));
        x = _mm512_add_epi32(s[a][g], x);
        x = _mm512_add_epi32(x, _mm512_ternarylogic_epi32(s[b][g], s[c][g], s[d][g], kFn));
        s[a][g] = _mm512_add_epi32(_mm512_rol_epi32(x, kShift[kRound][I % 4]), s[b][g]);
    }
}

template <size_t G, int... I>
TOVAREK_AVX512 void Steps512(__m512i (&s)[4][G], const __m512i (&w)[G][16],
                             std::integer_sequence<int, I...>) {
    (Step512<I, G>(s, w), ...);
}

template <size_t G>
__attribute__((target("avx512f"))) void Kernel512(Work& work, size_t blocks) {
    uint32_t* const words[4] = {work.a, work.b, work.c, work.d};
    __m512i s[4][G];
    for (int k = 0; k < 4; ++k) {
        for (size_t g = 0; g < G; ++g) s[k][g] = _mm512_load_si512(words[k] + 16 * g);
    }
    for (size_t block = 0; block < blocks; ++block) {
        __m512i w[G][16];
        for (size_t g = 0; g < G; ++g) {
            __m512i rows[16];
            for (int i = 0; i < 16; ++i) {
                rows[i] = _mm512_loadu_si512(work.ptrs[16 * g + i] + 64 * block);
            }
            Transpose16(rows, w[g]);
        }
        __m512i before[4][G];
        for (int k = 0; k < 4; ++k) {
            for (size_t g = 0; g < G; ++g) before[k][g] = s[k][g];
        }
        Steps512<G>(s, w, std::make_integer_sequence<int, 64>());
        for (int k = 0; k < 4; ++k) {
            for (size_t g = 0; g < G; ++g) s[k][g] = _mm512_add_epi32(s[k][g], before[k][g]);
        }
    }
    for (int k = 0; k < 4; ++k) {
        for (size_t g = 0; g < G; ++g) _mm512_store_si512(words[k] + 16 * g, s[k][g]);
    }
}

// ---- AVX2: 8 lanes a register ----

// Rows r[0..7] (8 words of lane i) into columns w[0..7] (word j of lanes 0..7).
TOVAREK_AVX2 void Transpose8(const __m256i r[8], __m256i w[8]) {
    __m256i t[8], u[8];
    for (int i = 0; i < 8; i += 2) {
        t[i] = _mm256_unpacklo_epi32(r[i], r[i + 1]);
        t[i + 1] = _mm256_unpackhi_epi32(r[i], r[i + 1]);
    }
    // u[4q + k], 128-bit half h: word 4h + k of lanes 4q..4q+3.
    for (int q = 0; q < 8; q += 4) {
        u[q] = _mm256_unpacklo_epi64(t[q], t[q + 2]);
        u[q + 1] = _mm256_unpackhi_epi64(t[q], t[q + 2]);
        u[q + 2] = _mm256_unpacklo_epi64(t[q + 1], t[q + 3]);
        u[q + 3] = _mm256_unpackhi_epi64(t[q + 1], t[q + 3]);
    }
    for (int k = 0; k < 4; ++k) {
        w[k] = _mm256_permute2x128_si256(u[k], u[4 + k], 0x20);
        w[4 + k] = _mm256_permute2x128_si256(u[k], u[4 + k], 0x31);
    }
}

// The round functions as RFC 1321 writes them, F and G with one operation less.
TOVAREK_AVX2 __m256i Round256(int round, __m256i x, __m256i y, __m256i z) {
    switch (round) {
        case 0:  // F = z ^ (x & (y ^ z))
            return _mm256_xor_si256(z, _mm256_and_si256(x, _mm256_xor_si256(y, z)));
        case 1:  // G = y ^ (z & (x ^ y))
            return _mm256_xor_si256(y, _mm256_and_si256(z, _mm256_xor_si256(x, y)));
        case 2:  // H
            return _mm256_xor_si256(_mm256_xor_si256(x, y), z);
        default:  // I = y ^ (x | ~z)
            return _mm256_xor_si256(y,
                                    _mm256_or_si256(x, _mm256_xor_si256(z, _mm256_set1_epi32(-1))));
    }
}

template <int I, size_t G>
TOVAREK_AVX2 void Step256(__m256i (&s)[4][G], const __m256i (&w)[G][16]) {
    constexpr int kRound = I / 16;
    constexpr int kS = kShift[kRound][I % 4];
    constexpr int a = (64 - I) % 4, b = (65 - I) % 4, c = (66 - I) % 4, d = (67 - I) % 4;
    for (size_t g = 0; g < G; ++g) {
        __m256i x = _mm256_add_epi32(w[g][WordOfStep(I)], _mm256_set1_epi32(kT[I]));
        x = _mm256_add_epi32(s[a][g], x);
        x = _mm256_add_epi32(x, Round256(kRound, s[b][g], s[c][g], s[d][g]));
        x = _mm256_or_si256(_mm256_slli_epi32(x, kS), _mm256_srli_epi32(x, 32 - kS));
        s[a][g] = _mm256_add_epi32(x, s[b][g]);
    }
}

template <size_t G, int... I>
TOVAREK_AVX2 void Steps256(__m256i (&s)[4][G], const __m256i (&w)[G][16],
                           std::integer_sequence<int, I...>) {
    (Step256<I, G>(s, w), ...);
}

template <size_t G>
__attribute__((target("avx2"))) void Kernel256(Work& work, size_t blocks) {
    uint32_t* const words[4] = {work.a, work.b, work.c, work.d};
    __m256i s[4][G];
    for (int k = 0; k < 4; ++k) {
        for (size_t g = 0; g < G; ++g) {
            s[k][g] = _mm256_load_si256(reinterpret_cast<const __m256i*>(words[k] + 8 * g));
        }
    }
    for (size_t block = 0; block < blocks; ++block) {
        __m256i w[G][16];
        for (size_t g = 0; g < G; ++g) {
            __m256i lo[8], hi[8];
            for (int i = 0; i < 8; ++i) {
                const unsigned char* p = work.ptrs[8 * g + i] + 64 * block;
                lo[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
                hi[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
            }
            Transpose8(lo, w[g]);
            Transpose8(hi, w[g] + 8);
        }
        __m256i before[4][G];
        for (int k = 0; k < 4; ++k) {
            for (size_t g = 0; g < G; ++g) before[k][g] = s[k][g];
        }
        Steps256<G>(s, w, std::make_integer_sequence<int, 64>());
        for (int k = 0; k < 4; ++k) {
            for (size_t g = 0; g < G; ++g) s[k][g] = _mm256_add_epi32(s[k][g], before[k][g]);
        }
    }
    for (int k = 0; k < 4; ++k) {
        for (size_t g = 0; g < G; ++g) {
            _mm256_store_si256(reinterpret_cast<__m256i*>(words[k] + 8 * g), s[k][g]);
        }
    }
}

}  // namespace

void TransformAvx512(Work& work, size_t groups, size_t blocks) {
    if (groups <= 1) {
        Kernel512<1>(work, blocks);
    } else {
        Kernel512<2>(work, blocks);
    }
}

void TransformAvx2(Work& work, size_t groups, size_t blocks) {
    if (groups <= 1) {
        Kernel256<1>(work, blocks);
    } else if (groups == 2) {
        Kernel256<2>(work, blocks);
    } else {
        Kernel256<3>(work, blocks);
    }
}

}  // namespace tovarek::md5_lanes_detail

#pragma GCC diagnostic pop

#else  // not x86-64: the CPU is never asked for these paths

namespace tovarek::md5_lanes_detail {
void TransformAvx512(Work&, size_t, size_t) {}
void TransformAvx2(Work&, size_t, size_t) {}
}  // namespace tovarek::md5_lanes_detail

#endif
