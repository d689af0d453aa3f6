// The big wheel sample: a wheel of two trussed rims and tangential spokes on an axle, sixteen
// gondolas hanging between the rims, an A-frame stand on each side, and the ground with a
// boarding platform. The members are thin tubes meshed evenly along their length, so the
// triangles crowd only inside each member's outline: from any side the wireframe reads as a
// line drawing of the structure.
//
// The wheel turns in the x-y plane (the start view looks at it face on) and its front and
// back halves are mirror images in z, so at the start view they cover each other exactly.

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "elf_builder.h"

namespace elfgen {
namespace {

using Vec = std::array<double, 3>;

Vec operator+(const Vec& a, const Vec& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Vec operator-(const Vec& a, const Vec& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec operator*(double k, const Vec& a) { return {k * a[0], k * a[1], k * a[2]}; }
double Length(const Vec& a) { return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]); }
Vec Unit(const Vec& a) { return (1.0 / Length(a)) * a; }
Vec Cross(const Vec& a, const Vec& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

constexpr double kPi = 3.141592653589793;
constexpr Vec kX{1, 0, 0};
constexpr Vec kZ{0, 0, 1};

// One part under construction: its grids share one strip, joined by degenerate triangles.
class Part {
public:
    // A rows x cols grid of point(row, col).
    template <class Point>
    void Grid(int rows, int cols, Point point) {
        const int first = static_cast<int>(mesh_.vertices.size());
        if (first + rows * cols > 32768) throw std::length_error("a part of over 32768 vertices");
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < cols; ++c) {
                const Vec p = point(r, c);
                mesh_.vertices.push_back(
                    {static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2])});
            }
        }
        AppendGridStrip(mesh_.indices, first, rows, cols);
    }

    // A tube of `radius` with `sides` faces along the path path(t), t from 0 to 1, cut into
    // rings about `spacing` apart. The sides start from the direction across the path and
    // `across`, which must never lie along the path.
    template <class Path>
    void Tube(Path path, double length, double radius, int sides, double spacing,
              const Vec& across) {
        const int segments = std::max(1, static_cast<int>(std::ceil(length / spacing)));
        const double step = 1.0 / segments;
        Grid(segments + 1, sides + 1, [&](int r, int c) {
            const double t = r * step;
            const Vec tangent = Unit(path(std::min(1.0, t + step / 2)) - path(std::max(0.0, t - step / 2)));
            const Vec u = Unit(Cross(tangent, across));
            const Vec v = Cross(tangent, u);
            const double angle = 2 * kPi * (c % sides) / sides;
            return path(t) + radius * (std::cos(angle) * u) + radius * (std::sin(angle) * v);
        });
    }

    // A straight tube from a to b.
    void Bar(const Vec& a, const Vec& b, double radius, int sides, double spacing) {
        const Vec d = b - a;
        const Vec across = std::abs(Unit(d)[2]) > 0.9 ? kX : kZ;
        Tube([&](double t) { return a + t * d; }, Length(d), radius, sides, spacing, across);
    }

    // A ring of radius `ringRadius` about `centre` in the plane z = centre z.
    void Ring(const Vec& centre, double ringRadius, double radius, int sides, double spacing) {
        Tube([&](double t) { return centre + ringRadius * Vec{std::cos(2 * kPi * t), std::sin(2 * kPi * t), 0}; },
             2 * kPi * ringRadius, radius, sides, spacing, kZ);
    }

    // An axis-aligned box from corner lo to corner hi, each face a `cells` x `cells` grid.
    void Box(const Vec& lo, const Vec& hi, int cells) {
        const Vec size = hi - lo;
        for (int axis = 0; axis < 3; ++axis) {
            const int a = (axis + 1) % 3;
            const int b = (axis + 2) % 3;
            for (const double side : {0.0, 1.0}) {
                Grid(cells + 1, cells + 1, [&](int r, int c) {
                    Vec p = lo;
                    p[static_cast<std::size_t>(axis)] += side * size[static_cast<std::size_t>(axis)];
                    p[static_cast<std::size_t>(a)] += size[static_cast<std::size_t>(a)] * r / cells;
                    p[static_cast<std::size_t>(b)] += size[static_cast<std::size_t>(b)] * c / cells;
                    return p;
                });
            }
        }
    }

    Mesh Take() { return std::move(mesh_); }

private:
    Mesh mesh_;
};

// The dimensions, in units of the largest coordinate.
constexpr double kGround = -0.80;        // the ground's height
constexpr Vec kHub{0, 0.21, 0};          // middle of the wheel
constexpr double kOuterRim = 0.62;       // rim radii
constexpr double kInnerRim = 0.55;
constexpr double kRimZ = 0.08;           // the rims stand at z = +-kRimZ
constexpr double kHubRadius = 0.065;     // where the spokes leave the hub
constexpr int kSpokes = 36;              // per rim
constexpr int kGondolas = 16;
constexpr double kFootX = 0.46;          // the stand's feet stand at (+-kFootX, kGround, +-kFootZ)
constexpr double kFootZ = 0.28;
constexpr double kBearingZ = 0.21;       // the stand holds the axle at z = +-kBearingZ

// Ground: an ellipse 2 across and 0.72 deep (three rings and 24 spokes) and a boarding
// platform under the lowest gondola, with three steps up on either side.
Mesh Ground() {
    Part part;
    part.Grid(4, 25, [](int r, int c) {
        const double a = 2 * kPi * (c % 24) / 24;
        const double rho = r / 3.0;
        return Vec{rho * std::cos(a), kGround, 0.36 * rho * std::sin(a)};
    });
    constexpr double platform = -0.66;  // its floor
    part.Box({-0.25, kGround, -0.15}, {0.25, platform, 0.15}, 3);
    for (int step = 0; step < 3; ++step) {
        const double top = platform + (kGround - platform) * (step + 1) / 4;
        const double inner = 0.25 + 0.05 * step;
        part.Box({inner, kGround, -0.1}, {inner + 0.05, top, 0.1}, 1);
        part.Box({-inner - 0.05, kGround, -0.1}, {-inner, top, 0.1}, 1);
    }
    return part.Take();
}

// The stand: an A-frame of two legs on each side, each leg braced to the other twice, and
// ground beams joining the four feet.
Mesh Stand() {
    Part part;
    for (const double z : {-1.0, 1.0}) {
        const Vec top{0, kHub[1], z * kBearingZ};
        const Vec left{-kFootX, kGround, z * kFootZ};
        const Vec right{kFootX, kGround, z * kFootZ};
        part.Bar(top, left, 0.014, 10, 0.02);
        part.Bar(top, right, 0.014, 10, 0.02);
        for (const double t : {0.45, 0.8}) {
            part.Bar(top + t * (left - top), top + t * (right - top), 0.008, 8, 0.015);
        }
        // Cross bracing between the two braces.
        const Vec l1 = top + 0.45 * (left - top), r1 = top + 0.45 * (right - top);
        const Vec l2 = top + 0.8 * (left - top), r2 = top + 0.8 * (right - top);
        part.Bar(l1, r2, 0.006, 8, 0.015);
        part.Bar(r1, l2, 0.006, 8, 0.015);
        part.Bar(left, right, 0.01, 8, 0.02);
    }
    for (const double x : {-kFootX, kFootX}) {
        part.Bar({x, kGround, -kFootZ}, {x, kGround, kFootZ}, 0.01, 8, 0.02);
    }
    return part.Take();
}

// The axle across both A-frames, the two hub drums the spokes leave from, and the bearing
// blocks on top of the stand.
Mesh Axle() {
    Part part;
    part.Bar({0, kHub[1], -kBearingZ - 0.03}, {0, kHub[1], kBearingZ + 0.03}, 0.022, 16, 0.01);
    for (const double z : {-1.0, 1.0}) {
        part.Bar(kHub + Vec{0, 0, z * kRimZ - 0.012}, kHub + Vec{0, 0, z * kRimZ + 0.012},
                 kHubRadius, 32, 0.012);
        part.Box(kHub + Vec{-0.04, -0.04, z * kBearingZ - 0.02},
                 kHub + Vec{0.04, 0.03, z * kBearingZ + 0.02}, 2);
    }
    return part.Take();
}

// Tangential spokes from the hub drum to the inner rim, leaning alternately forwards and
// backwards as on a bicycle wheel.
Mesh Spokes(double z) {
    Part part;
    for (int k = 0; k < kSpokes; ++k) {
        const double a = 2 * kPi * k / kSpokes;
        const double lean = (k % 2 == 0 ? 1 : -1) * 0.42;
        const Vec from = kHub + Vec{kHubRadius * std::cos(a), kHubRadius * std::sin(a), z};
        const Vec to = kHub + Vec{kInnerRim * std::cos(a + lean), kInnerRim * std::sin(a + lean), z};
        part.Bar(from, to, 0.0035, 6, 0.007);
    }
    return part.Take();
}

// One rim: the outer and the inner ring with a zigzag truss and radial struts between them.
Mesh Rim(double z) {
    Part part;
    const Vec centre = kHub + Vec{0, 0, z};
    part.Ring(centre, kOuterRim, 0.007, 8, 0.008);
    part.Ring(centre, kInnerRim, 0.006, 8, 0.008);
    const auto at = [&](double radius, double a) {
        return centre + Vec{radius * std::cos(a), radius * std::sin(a), 0};
    };
    const int bays = 2 * kSpokes;
    for (int k = 0; k < bays; ++k) {
        const double a = 2 * kPi * k / bays;
        const double next = 2 * kPi * (k + 1) / bays;
        part.Bar(at(kInnerRim, a), at(kOuterRim, a), 0.004, 6, 0.008);
        if (k % 2 == 0) {
            part.Bar(at(kInnerRim, a), at(kOuterRim, next), 0.0035, 6, 0.008);
        } else {
            part.Bar(at(kOuterRim, a), at(kInnerRim, next), 0.0035, 6, 0.008);
        }
    }
    return part.Take();
}

// Gondolas: a rounded cabin (a superellipsoid) hanging on two rods from a crossbar between the
// rims at the outer rim.
Mesh Gondolas() {
    Part part;
    const auto power = [](double value, double exponent) {
        return std::copysign(std::pow(std::abs(value), exponent), value);
    };
    for (int g = 0; g < kGondolas; ++g) {
        const double a = 2 * kPi * (g + 0.5) / kGondolas;
        const Vec hook = kHub + Vec{kOuterRim * std::cos(a), kOuterRim * std::sin(a), 0};
        part.Bar(hook + Vec{0, 0, -kRimZ}, hook + Vec{0, 0, kRimZ}, 0.006, 8, 0.008);
        const Vec middle = hook + Vec{0, -0.09, 0};
        for (const double z : {-0.03, 0.03}) {
            part.Bar(hook + Vec{0, 0, z}, middle + Vec{0, 0.04, z}, 0.0035, 6, 0.008);
        }
        part.Grid(11, 17, [&](int r, int c) {
            const double v = kPi * (r / 10.0 - 0.5);  // from the floor to the roof
            const double u = 2 * kPi * (c % 16) / 16;
            const double ring = power(std::cos(v), 0.4);
            return middle + Vec{0.045 * ring * power(std::cos(u), 0.4), 0.05 * power(std::sin(v), 0.4),
                                0.06 * ring * power(std::sin(u), 0.4)};
        });
    }
    return part.Take();
}

}  // namespace

std::vector<std::pair<std::string, Mesh>> MakeWheelParts() {
    std::vector<std::pair<std::string, Mesh>> parts;
    parts.emplace_back("_ground", Ground());
    parts.emplace_back("_stand", Stand());
    parts.emplace_back("_axle", Axle());
    parts.emplace_back("_spokes_front", Spokes(kRimZ));
    parts.emplace_back("_spokes_back", Spokes(-kRimZ));
    parts.emplace_back("_rim_front", Rim(kRimZ));
    parts.emplace_back("_rim_back", Rim(-kRimZ));
    parts.emplace_back("_gondolas", Gondolas());
    return parts;
}

}  // namespace elfgen
