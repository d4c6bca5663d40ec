// The renderer's one vector layer: lane types that hold four to sixteen values,
// the few operations on them the renderer uses, run-time selection of code
// compiled for AVX2, and the machine's float-to-int truncation.
//
// Every lane does exactly the IEEE operation a scalar would, in the same
// order, and nothing is contracted into fused multiply-adds, so packed and
// scalar code give identical bits.
//
// Lane values live in registers and locals only. Memory is read and written
// through load() and store(), which assume no alignment beyond the element's:
// no object's layout, and no object's placement by the heap, depends on the
// vector width.
//
// A build with AVRENDER_PORTABLE (and any compiler without GCC's vector
// extensions) gets the same operations as plain loops over arrays; the test
// command compares that build's frames with the vector build's.
#pragma once

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#if !defined(AVRENDER_PORTABLE) && defined(__GNUC__)
#define AVRENDER_VECTOR_EXTENSIONS 1
#if defined(__x86_64__)
#define AVRENDER_X86_64 1
#if !defined(AVRENDER_NO_AVX2)
#define AVRENDER_AVX2_COPIES 1
#endif
#endif
#endif

namespace simd {

#ifdef AVRENDER_VECTOR_EXTENSIONS

using Double4 = double __attribute__((vector_size(32)));
using Int4 = std::int32_t __attribute__((vector_size(16)));
using UInt4 = std::uint32_t __attribute__((vector_size(16)));
using Long4 = std::int64_t __attribute__((vector_size(32)));
using UShort8 = std::uint16_t __attribute__((vector_size(16)));
using Bytes16 = std::uint8_t __attribute__((vector_size(16)));

// Lanes of b at the given indices of the concatenation a, b.
template <int... Index, class V>
[[gnu::always_inline]] inline auto shuffle(V a, V b) {
    return __builtin_shufflevector(a, b, Index...);
}

// Each lane converted to the element type of To; the values must be
// representable there (use truncate() for doubles of any size).
template <class To, class From>
[[gnu::always_inline]] inline To convert(From v) {
    return __builtin_convertvector(v, To);
}

#else

// N values of T with the lane-wise operators of GCC's vector extensions:
// arithmetic and bit operations lane by lane (a scalar operand stands for
// every lane), comparisons giving all bits set (true) or clear per lane.
template <class T, int N>
struct Lanes {
    T lane[N];

    T& operator[](int k) { return lane[k]; }
    T operator[](int k) const { return lane[k]; }
};

// The lane type of a comparison's result: a signed integer of the compared
// lane's size, all bits set where the comparison holds.
template <class T>
using MaskElement = std::conditional_t<
    sizeof(T) == 8, std::int64_t,
    std::conditional_t<sizeof(T) == 4, std::int32_t, std::conditional_t<sizeof(T) == 2, std::int16_t, std::int8_t>>>;

template <class T, int N, class F>
Lanes<T, N> laneWise(F f) {
    Lanes<T, N> r;
    for (int k = 0; k < N; ++k)
        r.lane[k] = f(k);
    return r;
}

#define AVRENDER_LANE_OPERATOR(op)                                                            \
    template <class T, int N>                                                                 \
    Lanes<T, N> operator op(Lanes<T, N> const& a, Lanes<T, N> const& b) {                     \
        return laneWise<T, N>([&](int k) { return static_cast<T>(a.lane[k] op b.lane[k]); }); \
    }                                                                                         \
    template <class T, int N>                                                                 \
    Lanes<T, N> operator op(Lanes<T, N> const& a, T b) {                                      \
        return laneWise<T, N>([&](int k) { return static_cast<T>(a.lane[k] op b); });         \
    }                                                                                         \
    template <class T, int N>                                                                 \
    Lanes<T, N> operator op(T a, Lanes<T, N> const& b) {                                      \
        return laneWise<T, N>([&](int k) { return static_cast<T>(a op b.lane[k]); });         \
    }                                                                                         \
    template <class T, int N, class U>                                                        \
    Lanes<T, N>& operator op##=(Lanes<T, N>& a, U const& b) {                                 \
        return a = a op b;                                                                    \
    }
AVRENDER_LANE_OPERATOR(+)
AVRENDER_LANE_OPERATOR(-)
AVRENDER_LANE_OPERATOR(*)
AVRENDER_LANE_OPERATOR(/)
AVRENDER_LANE_OPERATOR(&)
AVRENDER_LANE_OPERATOR(|)
AVRENDER_LANE_OPERATOR(^)
AVRENDER_LANE_OPERATOR(<<)
AVRENDER_LANE_OPERATOR(>>)
#undef AVRENDER_LANE_OPERATOR

template <class T, int N>
Lanes<T, N> operator~(Lanes<T, N> const& a) {
    return laneWise<T, N>([&](int k) { return static_cast<T>(~a.lane[k]); });
}

template <class T, int N>
Lanes<T, N> operator-(Lanes<T, N> const& a) {
    return laneWise<T, N>([&](int k) { return static_cast<T>(-a.lane[k]); });
}

#define AVRENDER_LANE_COMPARISON(op)                                                                   \
    template <class T, int N>                                                                          \
    Lanes<MaskElement<T>, N> operator op(Lanes<T, N> const& a, Lanes<T, N> const& b) {                 \
        using M = MaskElement<T>;                                                                      \
        return laneWise<M, N>([&](int k) { return static_cast<M>(a.lane[k] op b.lane[k] ? -1 : 0); }); \
    }                                                                                                  \
    template <class T, int N>                                                                          \
    Lanes<MaskElement<T>, N> operator op(Lanes<T, N> const& a, T b) {                                  \
        using M = MaskElement<T>;                                                                      \
        return laneWise<M, N>([&](int k) { return static_cast<M>(a.lane[k] op b ? -1 : 0); });         \
    }                                                                                                  \
    template <class T, int N>                                                                          \
    Lanes<MaskElement<T>, N> operator op(T a, Lanes<T, N> const& b) {                                  \
        using M = MaskElement<T>;                                                                      \
        return laneWise<M, N>([&](int k) { return static_cast<M>(a op b.lane[k] ? -1 : 0); });         \
    }
AVRENDER_LANE_COMPARISON(==)
AVRENDER_LANE_COMPARISON(<)
AVRENDER_LANE_COMPARISON(<=)
AVRENDER_LANE_COMPARISON(>)
AVRENDER_LANE_COMPARISON(>=)
#undef AVRENDER_LANE_COMPARISON

using Double4 = Lanes<double, 4>;
using Int4 = Lanes<std::int32_t, 4>;
using UInt4 = Lanes<std::uint32_t, 4>;
using Long4 = Lanes<std::int64_t, 4>;
using UShort8 = Lanes<std::uint16_t, 8>;
using Bytes16 = Lanes<std::uint8_t, 16>;

template <int... Index, class T, int N>
Lanes<T, static_cast<int>(sizeof...(Index))> shuffle(Lanes<T, N> const& a, Lanes<T, N> const& b) {
    Lanes<T, static_cast<int>(sizeof...(Index))> r;
    int k = 0;
    ((r.lane[k++] = Index < N ? a.lane[Index] : b.lane[Index - N]), ...);
    return r;
}

template <class To, class T, int N>
To convert(Lanes<T, N> const& v) {
    To r;
    for (int k = 0; k < N; ++k)
        r.lane[k] = static_cast<std::remove_reference_t<decltype(r.lane[0])>>(v.lane[k]);
    return r;
}

#endif

// The correctly rounded square root of each lane. With vector extensions
// the four independent roots become one packed instruction where the
// target has one.
[[gnu::always_inline]] inline Double4 sqrt(Double4 v) {
    Double4 r;
    for (int k = 0; k < 4; ++k)
        r[k] = std::sqrt(v[k]);
    return r;
}

// The same bits seen as another type of the same size. (std::bit_cast of
// lane types trips UndefinedBehaviorSanitizer in unoptimised GCC builds.)
template <class To, class From>
[[gnu::always_inline]] inline To reinterpret(From const& from) {
    static_assert(sizeof(To) == sizeof(From));
    To to;
    std::memcpy(&to, &from, sizeof to);
    return to;
}

// The bytes of word `word` of four as int lanes, lowest byte first: a
// colour's blue, green, red and alpha. With vector extensions, two
// interleavings with zero, which every x86-64 processor has instructions for.
template <int word>
[[gnu::always_inline]] inline Int4 bytesOfWord(UInt4 words) {
    static_assert(word >= 0 && word < 4);
#ifdef AVRENDER_VECTOR_EXTENSIONS
    Bytes16 const bytes = reinterpret<Bytes16>(words);
    Bytes16 const zero{};
    UShort8 halves;
    if constexpr (word < 2)
        halves = reinterpret<UShort8>(shuffle<0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23>(bytes, zero));
    else
        halves =
            reinterpret<UShort8>(shuffle<8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31>(bytes, zero));
    if constexpr (word % 2 == 0)
        return reinterpret<Int4>(shuffle<0, 8, 1, 9, 2, 10, 3, 11>(halves, UShort8{}));
    else
        return reinterpret<Int4>(shuffle<4, 12, 5, 13, 6, 14, 7, 15>(halves, UShort8{}));
#else
    std::uint32_t const w = words[word];
    return Int4{static_cast<std::int32_t>(w & 0xFFu), static_cast<std::int32_t>((w >> 8) & 0xFFu),
                static_cast<std::int32_t>((w >> 16) & 0xFFu), static_cast<std::int32_t>(w >> 24)};
#endif
}

// Lanes read from and written to memory of any alignment.
template <class V, class T>
[[gnu::always_inline]] inline V load(T const* memory) {
    V v;
    std::memcpy(&v, memory, sizeof v);
    return v;
}
template <class V, class T>
[[gnu::always_inline]] inline void store(T* memory, V const& v) {
    std::memcpy(memory, &v, sizeof v);
}

// The lanes of `whenSet` where the mask lane has all bits set, of `otherwise` where it is clear.
template <class V, class M>
[[gnu::always_inline]] inline V select(M mask, V whenSet, V otherwise) {
    return reinterpret<V>((mask & reinterpret<M>(whenSet)) | (~mask & reinterpret<M>(otherwise)));
}

// A double truncated toward zero as the x86-64 conversion instruction does
// it: like a C++ cast for every value that fits an int, INT_MIN for NaN and
// out-of-range values (where the cast would be undefined). The colour
// arithmetic relies on that result for every input. On x86-64 the
// instruction is issued as assembly, which no optimiser folds into another
// result for a constant argument.
[[gnu::always_inline]] inline int truncate(double value) {
#ifdef AVRENDER_X86_64
    int result;
    asm("cvttsd2si %1, %0" : "=r"(result) : "x"(value));
    return result;
#else
    if (value > -2147483649.0 && value < 2147483648.0)
        return static_cast<int>(value);
    return INT_MIN;
#endif
}

// truncate() of each lane. On x86-64 through the packed conversion
// instruction (two lanes at a time, which every x86-64 processor has), which
// like the scalar one gives INT_MIN for NaN and out-of-range lanes.
[[gnu::always_inline]] inline Int4 truncate(Double4 value) {
#if defined(AVRENDER_VECTOR_EXTENSIONS) && defined(AVRENDER_X86_64)
    using Double2 = double __attribute__((vector_size(16)));
    Int4 const low = __builtin_ia32_cvttpd2dq(Double2{value[0], value[1]});
    Int4 const high = __builtin_ia32_cvttpd2dq(Double2{value[2], value[3]});
    return shuffle<0, 1, 4, 5>(low, high);
#else
    return Int4{truncate(value[0]), truncate(value[1]), truncate(value[2]), truncate(value[3])};
#endif
}

// Runs kernel(args...) compiled for AVX2 when the processor has it, and as
// compiled for the build's baseline otherwise (always in builds with
// AVRENDER_NO_AVX2). The kernel is an inline
// function of lane operations (always_inline, and so is everything it
// calls): its AVX2 copy is made by inlining it here. Arguments are scalars
// and pointers, never lane values, whose passing differs between the two.
#ifdef AVRENDER_AVX2_COPIES
template <auto kernel, class... Args>
[[gnu::target("avx2"), gnu::noinline]] void runForAvx2(Args... args) {
    kernel(args...);
}

inline bool processorHasAvx2() { return __builtin_cpu_supports("avx2"); }
#else
inline bool processorHasAvx2() { return false; }
#endif

template <auto kernel, class... Args>
[[gnu::always_inline]] inline void run(Args... args) {
#ifdef AVRENDER_AVX2_COPIES
    if (processorHasAvx2()) {
        runForAvx2<kernel>(args...);
        return;
    }
#endif
    kernel(args...);
}

}  // namespace simd
