// The vector kernels of the warp, one per instruction set, and the choice between them.
// Each is compiled for its set through a target region, so the build needs no -m flags and
// one binary runs everywhere, using what the processor offers.
#include "engine/WarpKernel.h"

#include "engine/ControlLine.h"
#include "engine/WarpArithmetic.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>

#if defined(__x86_64__)
// GCC 12 takes the deliberately undefined vectors inside some intrinsics for uninitialised
// values (its bug 105593).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#define MORPH_X86_KERNELS 1
#endif

namespace morph::warp {

#ifdef MORPH_X86_KERNELS

namespace sse2 {

struct Lanes {
    using V = __m128d;
    using M = __m128d;
    static constexpr int N = 2;

    static V Set(double a) { return _mm_set1_pd(a); }
    static V Rows(double y0) { return _mm_set_pd(y0 + 1, y0); }
    static V Add(V a, V b) { return _mm_add_pd(a, b); }
    static V Sub(V a, V b) { return _mm_sub_pd(a, b); }
    static V Mul(V a, V b) { return _mm_mul_pd(a, b); }
    static V Div(V a, V b) { return _mm_div_pd(a, b); }
    static V Min(V a, V b) { return _mm_min_pd(a, b); }
    static V Max(V a, V b) { return _mm_max_pd(a, b); }
    static V Abs(V a) { return _mm_andnot_pd(_mm_set1_pd(-0.0), a); }
    // No rounding instruction: below 2^52 adding and taking away 2^52 rounds to nearest with
    // ties to even; from 2^52 on every double is whole already.
    static V Round(V a) {
        const V sign = _mm_set1_pd(-0.0);
        const V two52 = _mm_set1_pd(4503599627370496.0);
        const V magnitude = _mm_andnot_pd(sign, a);
        const V rounded =
            _mm_or_pd(_mm_sub_pd(_mm_add_pd(magnitude, two52), two52), _mm_and_pd(a, sign));
        const V whole = _mm_cmpnlt_pd(magnitude, two52);
        return _mm_or_pd(_mm_and_pd(whole, a), _mm_andnot_pd(whole, rounded));
    }
    // Below 2^51 in size: 1.5 * 2^52 + a lies where the doubles are the whole numbers.
    static V RoundSmall(V a) {
        const V shift = _mm_set1_pd(6755399441055744.0);
        return _mm_sub_pd(_mm_add_pd(a, shift), shift);
    }
    static V MulAdd(V a, V b, V c) { return _mm_add_pd(_mm_mul_pd(a, b), c); }
    static M None() { return _mm_setzero_pd(); }
    static M Or(M a, M b) { return _mm_or_pd(a, b); }
    static M Equal(V a, V b) { return _mm_cmpeq_pd(a, b); }
    static M NotEqual(V a, V b) { return _mm_cmpneq_pd(a, b); }
    static M NotBelow(V a, V b) { return _mm_cmpnlt_pd(a, b); }
    static unsigned Bits(M m) { return unsigned(_mm_movemask_pd(m)); }
    static V Lookup(const double* table, V index, double, M&) {
        const __m128i i = _mm_cvttpd_epi32(index);
        return _mm_set_pd(table[_mm_cvtsi128_si32(_mm_shuffle_epi32(i, 1))],
                          table[_mm_cvtsi128_si32(i)]);
    }
    static std::int64_t First(V) { return 0; }
    static V LookupRising(const double* table, V index, std::int64_t, double size, M& bad) {
        return Lookup(table, index, size, bad);
    }
    using I = __m128i; // the low two 32-bit lanes
    static I ToInt(V a) { return _mm_cvttpd_epi32(a); }
    static V ToDouble(I a) { return _mm_cvtepi32_pd(a); }
    static I GatherInt(const std::uint32_t* table, I index) {
        return _mm_set_epi32(0, 0, int(table[_mm_cvtsi128_si32(_mm_shuffle_epi32(index, 1))]),
                             int(table[_mm_cvtsi128_si32(index)]));
    }
    static I AndInt(I a, std::uint32_t mask) { return _mm_and_si128(a, _mm_set1_epi32(int(mask))); }
    static I OrInt(I a, I b) { return _mm_or_si128(a, b); }
    static I ShiftRight(I a, int n) { return _mm_srl_epi32(a, _mm_cvtsi32_si128(n)); }
    static I ShiftLeft(I a, int n) { return _mm_sll_epi32(a, _mm_cvtsi32_si128(n)); }
    static void StoreInt(std::uint32_t* to, I a) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to), a);
    }
};

#include "engine/WarpKernelBody.inc"

} // namespace sse2

#pragma GCC push_options
#pragma GCC target("avx2,fma")

namespace avx2 {

struct Lanes {
    using V = __m256d;
    using M = __m256d;
    static constexpr int N = 4;

    static V Set(double a) { return _mm256_set1_pd(a); }
    static V Rows(double y0) {
        return _mm256_add_pd(_mm256_set1_pd(y0), _mm256_set_pd(3, 2, 1, 0));
    }
    static V Add(V a, V b) { return _mm256_add_pd(a, b); }
    static V Sub(V a, V b) { return _mm256_sub_pd(a, b); }
    static V Mul(V a, V b) { return _mm256_mul_pd(a, b); }
    static V Div(V a, V b) { return _mm256_div_pd(a, b); }
    static V Min(V a, V b) { return _mm256_min_pd(a, b); }
    static V Max(V a, V b) { return _mm256_max_pd(a, b); }
    static V Abs(V a) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), a); }
    static V Round(V a) {
        return _mm256_round_pd(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    }
    static V RoundSmall(V a) { return Round(a); }
    static V MulAdd(V a, V b, V c) { return _mm256_fmadd_pd(a, b, c); }
    static M None() { return _mm256_setzero_pd(); }
    static M Or(M a, M b) { return _mm256_or_pd(a, b); }
    static M Equal(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
    static M NotEqual(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_NEQ_UQ); }
    static M NotBelow(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_NLT_UQ); }
    static unsigned Bits(M m) { return unsigned(_mm256_movemask_pd(m)); }
    static V Lookup(const double* table, V index, double, M&) {
        return _mm256_i32gather_pd(table, _mm256_cvttpd_epi32(index), 8);
    }
    // The affine kernel's entries do not fall along the lanes (rows), and rise by at most
    // 1 + 2^-52 per row before rounding (|dx| / len), so lane 0 holds the smallest and the
    // four doubles from there hold the entries of every lane that is not flagged (a lane
    // three rows on could only round to 4 more when one of the two lies within the slack of
    // a boundary). The four are picked by a permutation of 32-bit halves whose indices,
    // 2 o and 2 o + 1 for the offset o = entry - first (3 bits each), are the low and high
    // words of the double 2^52 + 2^32 + o (2^33 + 2), made exactly by one multiply-add. A
    // flagged lane's offset past 3 picks some entry of the four.
    static std::int64_t First(V entry) { return _mm_cvttsd_si64(_mm256_castpd256_pd128(entry)); }
    static V LookupRising(const double* table, V entry, std::int64_t first, double, M&) {
        const double* window = table + first;
        constexpr double kStep = 8589934594.0;       // 2^33 + 2
        constexpr double kBase = 4503603922337792.0; // 2^52 + 2^32
        const V start = _mm256_broadcastsd_pd(_mm256_castpd256_pd128(entry));
        const V pick =
            _mm256_fmadd_pd(entry, _mm256_set1_pd(kStep),
                            _mm256_fnmadd_pd(start, _mm256_set1_pd(kStep), _mm256_set1_pd(kBase)));
        return _mm256_castps_pd(_mm256_permutevar8x32_ps(_mm256_castpd_ps(_mm256_loadu_pd(window)),
                                                         _mm256_castpd_si256(pick)));
    }
    using I = __m128i;
    static I ToInt(V a) { return _mm256_cvttpd_epi32(a); }
    static V ToDouble(I a) { return _mm256_cvtepi32_pd(a); }
    static I GatherInt(const std::uint32_t* table, I index) {
        return _mm_i32gather_epi32(reinterpret_cast<const int*>(table), index, 4);
    }
    static I AndInt(I a, std::uint32_t mask) { return _mm_and_si128(a, _mm_set1_epi32(int(mask))); }
    static I OrInt(I a, I b) { return _mm_or_si128(a, b); }
    static I ShiftRight(I a, int n) { return _mm_srl_epi32(a, _mm_cvtsi32_si128(n)); }
    static I ShiftLeft(I a, int n) { return _mm_sll_epi32(a, _mm_cvtsi32_si128(n)); }
    static void StoreInt(std::uint32_t* to, I a) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), a);
    }
    static I ZeroInt() { return _mm_setzero_si128(); }
    static I AddInt(I a, I b) { return _mm_add_epi32(a, b); }
    static V Sqrt(V a) { return _mm256_sqrt_pd(a); }
    static V Floor(V a) { return _mm256_round_pd(a, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC); }
    static M Less(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
    static M Greater(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
    static V Select(M m, V a, V b) { return _mm256_blendv_pd(b, a, m); }
    static V Load(const double* from) { return _mm256_loadu_pd(from); }
    static void Store(double* to, V a) { _mm256_storeu_pd(to, a); }
};

#include "engine/WarpKernelBody.inc"
// After the body above, whose pieces it uses.
#include "engine/WarpContinuousBody.inc"

} // namespace avx2

#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx512f")

namespace avx512 {

struct Lanes {
    using V = __m512d;
    using M = __mmask8;
    static constexpr int N = 8;

    static V Set(double a) { return _mm512_set1_pd(a); }
    static V Rows(double y0) {
        return _mm512_add_pd(_mm512_set1_pd(y0), _mm512_set_pd(7, 6, 5, 4, 3, 2, 1, 0));
    }
    static V Add(V a, V b) { return _mm512_add_pd(a, b); }
    static V Sub(V a, V b) { return _mm512_sub_pd(a, b); }
    static V Mul(V a, V b) { return _mm512_mul_pd(a, b); }
    static V Div(V a, V b) { return _mm512_div_pd(a, b); }
    static V Min(V a, V b) { return _mm512_min_pd(a, b); }
    static V Max(V a, V b) { return _mm512_max_pd(a, b); }
    static V Abs(V a) { return _mm512_abs_pd(a); }
    static V Round(V a) {
        return _mm512_roundscale_pd(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    }
    static V RoundSmall(V a) { return Round(a); }
    static V MulAdd(V a, V b, V c) { return _mm512_fmadd_pd(a, b, c); }
    static M None() { return 0; }
    static M Or(M a, M b) { return M(a | b); }
    static M Equal(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_EQ_OQ); }
    static M NotEqual(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_NEQ_UQ); }
    static M NotBelow(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_NLT_UQ); }
    static unsigned Bits(M m) { return unsigned(m); }
    // The distance changes by at most 1 from row to row, so the eight lanes' entries lie
    // within 5 of the middle lane's: a window of 16 entries from 5 before it holds them all,
    // and a permutation picks them out (cheaper than a gather on many processors). A lane
    // outside the window, which the bound rules out, is flagged rather than trusted.
    static V Lookup(const double* table, V index, double size, M& bad) {
        const double middle = _mm256_cvtsd_f64(_mm512_extractf64x4_pd(index, 1));
        double from = middle - 5 < 0 ? 0 : middle - 5;
        from = from > size - 16 ? size - 16 : from;
        const double* window = table + std::int64_t(from);
        const V offset = _mm512_sub_pd(index, _mm512_set1_pd(from));
        bad = M(bad | _mm512_cmp_pd_mask(offset, _mm512_setzero_pd(), _CMP_LT_OQ) |
                _mm512_cmp_pd_mask(offset, _mm512_set1_pd(15), _CMP_GT_OQ));
        const __m512i select = _mm512_cvtepi32_epi64(_mm512_cvttpd_epi32(offset));
        return _mm512_permutex2var_pd(_mm512_loadu_pd(window), select, _mm512_loadu_pd(window + 8));
    }
    static std::int64_t First(V) { return 0; }
    static V LookupRising(const double* table, V index, std::int64_t, double size, M& bad) {
        return Lookup(table, index, size, bad);
    }
    using I = __m256i;
    static I ToInt(V a) { return _mm512_cvttpd_epi32(a); }
    static V ToDouble(I a) { return _mm512_cvtepi32_pd(a); }
    static I GatherInt(const std::uint32_t* table, I index) {
        return _mm256_i32gather_epi32(reinterpret_cast<const int*>(table), index, 4);
    }
    static I AndInt(I a, std::uint32_t mask) {
        return _mm256_and_si256(a, _mm256_set1_epi32(int(mask)));
    }
    static I OrInt(I a, I b) { return _mm256_or_si256(a, b); }
    static I ShiftRight(I a, int n) { return _mm256_srl_epi32(a, _mm_cvtsi32_si128(n)); }
    static I ShiftLeft(I a, int n) { return _mm256_sll_epi32(a, _mm_cvtsi32_si128(n)); }
    static void StoreInt(std::uint32_t* to, I a) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), a);
    }
    static I ZeroInt() { return _mm256_setzero_si256(); }
    static I AddInt(I a, I b) { return _mm256_add_epi32(a, b); }
    static V Sqrt(V a) { return _mm512_sqrt_pd(a); }
    static V Floor(V a) {
        return _mm512_roundscale_pd(a, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    }
    static M Less(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
    static M Greater(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_GT_OQ); }
    static V Select(M m, V a, V b) { return _mm512_mask_blend_pd(m, b, a); }
    static V Load(const double* from) { return _mm512_loadu_pd(from); }
    static void Store(double* to, V a) { _mm512_storeu_pd(to, a); }
};

#include "engine/WarpKernelBody.inc"
// After the body above, whose pieces it uses.
#include "engine/WarpContinuousBody.inc"

} // namespace avx512

#pragma GCC pop_options

#endif // MORPH_X86_KERNELS

namespace {

KernelLevel DetectLevel() {
#ifdef MORPH_X86_KERNELS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) {
        return KernelLevel::Avx512;
    }
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
        return KernelLevel::Avx2;
    }
    return KernelLevel::Sse2;
#else
    return KernelLevel::Scalar;
#endif
}

std::atomic<int> levelLimit{int(KernelLevel::Avx512)};
std::atomic<int> formulaInUse{int(KernelFormula::Affine)};

} // namespace

KernelLevel SupportedKernelLevel() {
    static const KernelLevel level = DetectLevel();
    return level;
}

KernelLevel ActiveKernelLevel() {
    const int limit = levelLimit.load(std::memory_order_relaxed);
    const int supported = int(SupportedKernelLevel());
    return KernelLevel(limit < supported ? limit : supported);
}

void LimitKernelLevel(KernelLevel level) {
    levelLimit.store(int(level), std::memory_order_relaxed);
}

KernelFormula ActiveKernelFormula() {
    return KernelFormula(formulaInUse.load(std::memory_order_relaxed));
}

void UseKernelFormula(KernelFormula formula) {
    formulaInUse.store(int(formula), std::memory_order_relaxed);
}

MapRowsFn KernelFor(KernelLevel level, KernelFormula formula) {
    [[maybe_unused]] const bool affine = formula == KernelFormula::Affine;
    switch (level) {
#ifdef MORPH_X86_KERNELS
    case KernelLevel::Avx512:
        return affine ? &avx512::MapRows : &avx512::MapRowsDividing;
    case KernelLevel::Avx2:
        return affine ? &avx2::MapRows : &avx2::MapRowsDividing;
    case KernelLevel::Sse2:
        return affine ? &sse2::MapRows : &sse2::MapRowsDividing;
#endif
    default:
        return nullptr;
    }
}

MapRowsFn ContinuousKernelFor(KernelLevel level) {
    switch (level) {
#ifdef MORPH_X86_KERNELS
    case KernelLevel::Avx512:
        return &avx512::MapRowsContinuous;
    case KernelLevel::Avx2:
        return &avx2::MapRowsContinuous;
#endif
    default:
        return nullptr;
    }
}

} // namespace morph::warp
