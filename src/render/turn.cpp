#include "render/turn.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "render/vector_code.h"

namespace trenn {
namespace {

// TurnVertex and the view mapping for a block, branch-free so that it vectorises: the same
// double products and sums, rounded to single at the same steps. Every operation runs on every
// lane (values that would overflow a single are replaced before the conversions) and only the
// results are selected: the compiler does not vectorise arithmetic that runs under a condition.
// The copy without depth is compiled as if the depth output did not exist.
template <bool kWithDepth>
[[gnu::always_inline]] TRENN_VECTOR_MATH inline std::size_t TurnBlockBody(
    const float* xs, const float* ys, const float* zs, std::size_t count,
    const RotationCoefficients& turn, const ViewMapping& mapping, double* px, double* py,
    float* pz) {
    constexpr double kFaulted = std::numeric_limits<double>::quiet_NaN();
    constexpr double kSingleOverflow = 0x1.ffffffp127;
    const double cosYaw = turn.cosYaw, sinYaw = turn.sinYaw;
    const double cosPitch = turn.cosPitch, sinPitch = turn.sinPitch;
    const double scaleX = mapping.scaleX, offsetX = mapping.offsetX;
    const double scaleY = mapping.scaleY, offsetY = mapping.offsetY;
    for (std::size_t i = 0; i < count; ++i) {
        const double x = xs[i], y = ys[i], z = zs[i];
        const double x1d = x * cosYaw - z * sinYaw;
        const double z1d = x * sinYaw + z * cosYaw;
        const bool yawFits = (std::fabs(x1d) < kSingleOverflow) & (std::fabs(z1d) < kSingleOverflow);
        const float x1 = static_cast<float>(yawFits ? x1d : 0.0);
        const float z1 = static_cast<float>(yawFits ? z1d : 0.0);
        const double y2d = y * cosPitch - z1 * sinPitch;
        const double z2d = z1 * cosPitch + y * sinPitch;
        const bool fits =
            yawFits & (std::fabs(y2d) < kSingleOverflow) & (std::fabs(z2d) < kSingleOverflow);
        const float y2 = static_cast<float>(fits ? y2d : 0.0);
        const double mappedX = static_cast<double>(x1) * scaleX + offsetX;
        px[i] = fits ? mappedX : kFaulted;
        py[i] = static_cast<double>(y2) * scaleY + offsetY;
        if constexpr (kWithDepth) pz[i] = static_cast<float>(fits ? z2d : 0.0);
    }
    // Counted in a loop of its own: folded into the one above, it stopped that vectorising.
    std::int64_t faulted = 0;
    for (std::size_t i = 0; i < count; ++i) faulted += static_cast<std::int64_t>(px[i] != px[i]);
    return static_cast<std::size_t>(faulted);
}

TRENN_VECTOR_MATH std::size_t TurnBlockBaseline(const float* xs, const float* ys, const float* zs,
                                                std::size_t count, const RotationCoefficients& turn,
                                                const ViewMapping& mapping, double* px, double* py) {
    return TurnBlockBody<false>(xs, ys, zs, count, turn, mapping, px, py, nullptr);
}

TRENN_VECTOR_MATH std::size_t TurnBlockDepthBaseline(const float* xs, const float* ys, const float* zs,
                                                     std::size_t count, const RotationCoefficients& turn,
                                                     const ViewMapping& mapping, double* px, double* py,
                                                     float* pz) {
    return TurnBlockBody<true>(xs, ys, zs, count, turn, mapping, px, py, pz);
}

#if TRENN_HAS_TARGET_COPIES
TRENN_TARGET_AVX2 TRENN_VECTOR_MATH std::size_t TurnBlockAvx2(
    const float* xs, const float* ys, const float* zs, std::size_t count,
    const RotationCoefficients& turn, const ViewMapping& mapping, double* px, double* py) {
    return TurnBlockBody<false>(xs, ys, zs, count, turn, mapping, px, py, nullptr);
}

TRENN_TARGET_AVX2 TRENN_VECTOR_MATH std::size_t TurnBlockDepthAvx2(
    const float* xs, const float* ys, const float* zs, std::size_t count,
    const RotationCoefficients& turn, const ViewMapping& mapping, double* px, double* py, float* pz) {
    return TurnBlockBody<true>(xs, ys, zs, count, turn, mapping, px, py, pz);
}

TRENN_TARGET_X86_64_V4 TRENN_VECTOR_MATH std::size_t TurnBlockX86_64_V4(
    const float* xs, const float* ys, const float* zs, std::size_t count,
    const RotationCoefficients& turn, const ViewMapping& mapping, double* px, double* py) {
    return TurnBlockBody<false>(xs, ys, zs, count, turn, mapping, px, py, nullptr);
}

TRENN_TARGET_X86_64_V4 TRENN_VECTOR_MATH std::size_t TurnBlockDepthX86_64_V4(
    const float* xs, const float* ys, const float* zs, std::size_t count,
    const RotationCoefficients& turn, const ViewMapping& mapping, double* px, double* py, float* pz) {
    return TurnBlockBody<true>(xs, ys, zs, count, turn, mapping, px, py, pz);
}
#endif

}  // namespace

std::vector<TurnBlockCopy> TurnBlockCopies() {
    std::vector<TurnBlockCopy> copies;
#if TRENN_HAS_TARGET_COPIES
    __builtin_cpu_init();
    copies.push_back({"x86-64-v4", &TurnBlockX86_64_V4, __builtin_cpu_supports("x86-64-v4") != 0,
                      &TurnBlockDepthX86_64_V4});
    copies.push_back({"avx2", &TurnBlockAvx2, __builtin_cpu_supports("avx2") != 0, &TurnBlockDepthAvx2});
#endif
    copies.push_back({"baseline", &TurnBlockBaseline, true, &TurnBlockDepthBaseline});
    return copies;
}

TurnBlockFunction BestTurnBlock() {
    for (const TurnBlockCopy& copy : TurnBlockCopies()) {
        if (copy.runs) return copy.function;
    }
    return &TurnBlockBaseline;
}

TurnBlockDepthFunction BestTurnBlockDepth() {
    for (const TurnBlockCopy& copy : TurnBlockCopies()) {
        if (copy.runs) return copy.withDepth;
    }
    return &TurnBlockDepthBaseline;
}

}  // namespace trenn
