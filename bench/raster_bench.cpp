// Throughput of the headless rasterizer on a wireframe-like load: short lines between
// random sub-pixel vertices and 2x2 vertex dots.
// Usage: trenn_raster_bench [width height line-length spatially-ordered]

#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <vector>

#include "render/raster.h"

namespace {

// CPU time of this thread: the machine is shared, and wall time would count other work.
double ThreadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

template <typename F>
double BestSeconds(int runs, F&& body) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        const double start = ThreadSeconds();
        body();
        best = std::min(best, ThreadSeconds() - start);
    }
    return best;
}

struct Edge {
    std::uint32_t a;
    std::uint32_t b;
};

}  // namespace

int main(int argc, char** argv) {
    const int width = argc > 1 ? std::atoi(argv[1]) : 395;
    const int height = argc > 2 ? std::atoi(argv[2]) : 346;
    const double length = argc > 3 ? std::atof(argv[3]) : 3.0;
    constexpr int kLines = 1'000'000;
    constexpr int kDots = 500'000;

    std::vector<std::uint32_t> pixels(static_cast<size_t>(width) * height, 0xffffffffu);
    const trenn::RasterTarget target{pixels.data(), width, height, width};

    // Each line gets its own two vertices, `length` apart at a random angle, so the edge list
    // references 2 vertices per line as a mesh with no sharing would.
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<> ux(2.0 + length, width - 3.0 - length);
    std::uniform_real_distribution<> uy(2.0 + length, height - 3.0 - length);
    std::uniform_real_distribution<> angle(0.0, 2.0 * std::numbers::pi);
    std::vector<double> xs, ys;
    std::vector<Edge> edges;
    for (std::uint32_t i = 0; i < kLines; ++i) {
        const double x = ux(rng), y = uy(rng), a = angle(rng);
        xs.push_back(x);
        ys.push_back(y);
        xs.push_back(x + length * std::cos(a));
        ys.push_back(y + length * std::sin(a));
        edges.push_back({2u * i, 2u * i + 1});
    }
    // Optionally draw in spatial order; vertices are then renumbered in drawing order, as a
    // mesh's vertex and edge lists mostly are, so the bench measures drawing, not cache misses.
    if (argc > 4 && std::atoi(argv[4]) != 0) {
        std::sort(edges.begin(), edges.end(), [&](const Edge& p, const Edge& q) {
            return std::make_pair(int(ys[p.a]) / 16, xs[p.a]) < std::make_pair(int(ys[q.a]) / 16, xs[q.a]);
        });
        std::vector<double> sx, sy;
        for (Edge& e : edges) {
            for (std::uint32_t* v : {&e.a, &e.b}) {
                sx.push_back(xs[*v]);
                sy.push_back(ys[*v]);
                *v = static_cast<std::uint32_t>(sx.size() - 1);
            }
        }
        xs.swap(sx);
        ys.swap(sy);
    }
    std::vector<trenn::RasterPackedPoint> packed(xs.size());
    std::vector<trenn::RasterPackedPoint> from(edges.size()), to(edges.size());
    const std::vector<std::int32_t> flags(edges.size(), 1);
    std::vector<std::uint32_t> pairs(edges.size());
    for (size_t i = 0; i < edges.size(); ++i) pairs[i] = edges[i].a | edges[i].b << 16;
    // The batches take 16-bit point numbers, as a part's edge list has them: a part's worth of
    // lines at a time.
    constexpr size_t kPart = 32768 / 2;

    const double tDirect = BestSeconds(15, [&] {
        for (const Edge& e : edges)
            trenn::RasterLine(target, xs[e.a], ys[e.a], xs[e.b], ys[e.b], 0xff000000u);
    });
    const double tPrepare = BestSeconds(15, [&] {
        trenn::PrepareRasterPoints(target, xs.data(), ys.data(), xs.size(), packed.data());
    });
    const double tBatch = BestSeconds(15, [&] {
        for (size_t first = 0; first < edges.size(); first += kPart) {
            const size_t n = std::min(kPart, edges.size() - first);
            const std::uint32_t base = edges[first].a < edges[first].b ? edges[first].a : edges[first].b;
            for (size_t i = first; i < first + n; ++i) {
                from[i] = packed[edges[i].a];
                to[i] = packed[edges[i].b];
                pairs[i] = (edges[i].a - base) | (edges[i].b - base) << 16;
            }
            trenn::RasterLines(target, xs.data() + base, ys.data() + base,
                               {from.data() + first, to.data() + first, nullptr, nullptr,
                                flags.data() + first, 1, n, pairs.data() + first},
                               0xff000000u);
        }
    });
    const double tDots = BestSeconds(15, [&] {
        for (int i = 0; i < kDots; ++i) trenn::RasterDot(target, xs[i], ys[i], 2, 0xff0000ffu);
    });
    const double tDotBatch = BestSeconds(15, [&] {
        trenn::RasterDotArray(target, xs.data(), ys.data(), kDots, 2, 0xff0000ffu);
    });

    std::uint64_t checksum = 0;
    for (const std::uint32_t p : pixels) checksum = checksum * 31 + p;
    std::printf("image %dx%d, %d lines of %.1f px, %d dots (checksum %016llx)\n", width, height,
                kLines, length, kDots, static_cast<unsigned long long>(checksum));
    std::printf("direct lines   : %7.2f ms  %6.1f M lines/s\n", tDirect * 1e3, kLines / tDirect / 1e6);
    std::printf("prepare points : %7.2f ms  (%zu points)\n", tPrepare * 1e3, xs.size());
    std::printf("batch lines    : %7.2f ms  %6.1f M lines/s\n", tBatch * 1e3, kLines / tBatch / 1e6);
    std::printf("dots 2x2       : %7.2f ms  %6.1f M dots/s\n", tDots * 1e3, kDots / tDots / 1e6);
    std::printf("batch dots 2x2 : %7.2f ms  %6.1f M dots/s\n", tDotBatch * 1e3, kDots / tDotBatch / 1e6);
    std::printf("frame (batch lines + batch dots): %.2f ms\n", (tBatch + tDotBatch) * 1e3);
    return 0;
}
