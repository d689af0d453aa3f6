// The headless rasterizer against the real painter calls of qt/paint_primitives.h: every case is
// drawn both ways on a white 395x346 RGB32 image and the differing pixels are counted.

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "app/picture_geometry.h"
#include "qt/paint_primitives.h"
#include "render/raster.h"

namespace trenn {
namespace {

constexpr int kWidth = picture::kInnerWidth;
constexpr int kHeight = picture::kInnerHeight;
const QColor kLineColour(0, 0, 0);
const QColor kDotColour(0, 0, 255);

struct Line {
    double x1, y1, x2, y2;
};

struct Dot {
    double x, y;
    int width;
};

std::string Describe(const Line& l) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "line (%.17g, %.17g) - (%.17g, %.17g)", l.x1, l.y1,
                  l.x2, l.y2);
    return buffer;
}

std::string Describe(const Dot& d) {
    char buffer[120];
    std::snprintf(buffer, sizeof buffer, "dot (%.17g, %.17g) width %d", d.x, d.y, d.width);
    return buffer;
}

QImage WhiteImage() {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

RasterTarget TargetOf(QImage& image) {
    return {reinterpret_cast<std::uint32_t*>(image.bits()), image.width(), image.height(),
            image.bytesPerLine() / 4};
}

void PaintWithToolkit(QImage& image, const std::function<void(QPainter&)>& draw) {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    draw(painter);
}

void ToolkitLine(QPainter& p, const Line& l) {
    PaintLine(p, QPointF(l.x1, l.y1), QPointF(l.x2, l.y2), 1, kLineColour);
}

void ToolkitDot(QPainter& p, const Dot& d) { PaintDot(p, QPointF(d.x, d.y), d.width, kDotColour); }

long CountDiffering(const QImage& a, const QImage& b) {
    long count = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* ra = reinterpret_cast<const std::uint32_t*>(a.constScanLine(y));
        const auto* rb = reinterpret_cast<const std::uint32_t*>(b.constScanLine(y));
        if (std::memcmp(ra, rb, sizeof(std::uint32_t) * static_cast<size_t>(a.width())) == 0)
            continue;
        for (int x = 0; x < a.width(); ++x) count += ra[x] != rb[x];
    }
    return count;
}

long CountInk(const QImage& image) {
    static const std::vector<std::uint32_t> white(static_cast<size_t>(kWidth), 0xffffffffu);
    long count = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(image.constScanLine(y));
        // Most rows are blank in single-primitive images; memcmp skips them quickly.
        if (image.width() == kWidth &&
            std::memcmp(row, white.data(), sizeof(std::uint32_t) * white.size()) == 0)
            continue;
        for (int x = 0; x < image.width(); ++x) count += row[x] != 0xffffffffu;
    }
    return count;
}

// Per-class tally of cases drawn in isolation.
struct Tally {
    explicit Tally(std::string label) : name(std::move(label)) {}

    std::string name;
    long cases = 0;
    long failingCases = 0;
    long differingPixels = 0;
    long inkPixels = 0;  // pixels the toolkit drew, to show the cases are not all empty
    std::vector<std::string> examples;

    void Add(const std::string& what, long differing, long ink) {
        ++cases;
        inkPixels += ink;
        if (differing == 0) return;
        ++failingCases;
        differingPixels += differing;
        if (examples.size() < 8) examples.push_back(what + ": " + std::to_string(differing));
    }

    void Report() const {
        std::printf("[ %-28s ] %6ld cases, %5ld failing, %6ld differing px, %8ld ink px\n",
                    name.c_str(), cases, failingCases, differingPixels, inkPixels);
        std::string text;
        for (const auto& e : examples) text += "\n  " + e;
        EXPECT_EQ(differingPixels, 0) << name << ": " << failingCases << " of " << cases
                                      << " cases differ" << text;
    }
};

// Lines through the batch path, as the renderer draws them: the ends prepared once, then the
// lines drawn from the packed points. Each line's ends are stored second end first, so that
// the lines do not just walk the point array.
void BatchLines(const RasterTarget& target, const std::vector<Line>& lines, std::uint32_t argb) {
    std::vector<double> x, y;
    for (const Line& l : lines) {
        x.insert(x.end(), {l.x2, l.x1});
        y.insert(y.end(), {l.y2, l.y1});
    }
    std::vector<RasterPackedPoint> packed(std::max<std::size_t>(x.size(), 1));
    PrepareRasterPoints(target, x.data(), y.data(), x.size(), packed.data());
    std::vector<RasterPackedPoint> from, to;
    std::vector<std::int32_t> fromPoint, toPoint;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        from.push_back(packed[2 * i + 1]);
        to.push_back(packed[2 * i]);
        fromPoint.push_back(static_cast<std::int32_t>(2 * i + 1));
        toPoint.push_back(static_cast<std::int32_t>(2 * i));
    }
    const std::vector<std::int32_t> flags(lines.size(), 1);
    RasterLines(target, x.data(), y.data(),
                {from.data(), to.data(), fromPoint.data(), toPoint.data(), flags.data(), 1, lines.size()}, argb);
}

// Dots through the batch path.
void BatchDots(const RasterTarget& target, const std::vector<Dot>& dots, int width, std::uint32_t argb) {
    std::vector<double> x, y;
    for (const Dot& d : dots) {
        x.push_back(d.x);
        y.push_back(d.y);
    }
    RasterDotArray(target, x.data(), y.data(), x.size(), width, argb);
}

// Draws each case alone on fresh images, both ways, and compares.
class Isolated {
public:
    Isolated() : reference_(WhiteImage()), ours_(WhiteImage()) {}

    void Check(Tally& tally, const Line& l) {
        Reset();
        PaintWithToolkit(reference_, [&](QPainter& p) { ToolkitLine(p, l); });
        RasterLine(TargetOf(ours_), l.x1, l.y1, l.x2, l.y2, kLineColour.rgba());
        tally.Add(Describe(l), CountDiffering(reference_, ours_), CountInk(reference_));
    }

    // The line as a batch of one.
    void CheckBatched(Tally& tally, const Line& l) {
        Reset();
        PaintWithToolkit(reference_, [&](QPainter& p) { ToolkitLine(p, l); });
        BatchLines(TargetOf(ours_), {l}, kLineColour.rgba());
        tally.Add(Describe(l), CountDiffering(reference_, ours_), CountInk(reference_));
    }

    // Both forms: the single dot and a batch of one vertex.
    void CheckDot(Tally& tally, const Dot& d) {
        Reset();
        PaintWithToolkit(reference_, [&](QPainter& p) { ToolkitDot(p, d); });
        const RasterTarget target = TargetOf(ours_);
        RasterDot(target, d.x, d.y, d.width, kDotColour.rgba());
        long differing = CountDiffering(reference_, ours_);
        ours_.fill(Qt::white);
        BatchDots(target, {d}, d.width, kDotColour.rgba());
        differing += CountDiffering(reference_, ours_);
        tally.Add(Describe(d), differing, CountInk(reference_));
    }

private:
    void Reset() {
        reference_.fill(Qt::white);
        ours_.fill(Qt::white);
    }

    QImage reference_;
    QImage ours_;
};

class Generator {
public:
    explicit Generator(std::uint64_t seed) : rng_(seed) {}

    double Uniform(double lo, double hi) { return std::uniform_real_distribution<>(lo, hi)(rng_); }
    int Int(int lo, int hi) { return std::uniform_int_distribution<>(lo, hi)(rng_); }
    bool Chance(double p) { return Uniform(0.0, 1.0) < p; }

    // A coordinate that is sometimes snapped to the grids where rounding ties live.
    double Snap(double v) {
        switch (Int(0, 5)) {
            case 0: return std::round(v);
            case 1: return std::round(v * 2.0) / 2.0;
            case 2: return std::round(v * 64.0) / 64.0;
            case 3: return std::round(v * 128.0) / 128.0;  // halfway between 1/64 steps
            default: return v;
        }
    }

    Line Short(double margin, double maxLength) {
        const double x = Snap(Uniform(-margin, kWidth + margin));
        const double y = Snap(Uniform(-margin, kHeight + margin));
        const double length = Uniform(0.0, maxLength);
        const double angle = Uniform(0.0, 2.0 * std::numbers::pi);
        return {x, y, Snap(x + length * std::cos(angle)), Snap(y + length * std::sin(angle))};
    }

    // A coordinate far outside, of the given magnitude and random sign.
    double Far(double magnitude) { return (Chance(0.5) ? 1.0 : -1.0) * magnitude * Uniform(1.0, 3.0); }

    double InsideX() { return Snap(Uniform(-2.0, kWidth + 2.0)); }
    double InsideY() { return Snap(Uniform(-2.0, kHeight + 2.0)); }

private:
    std::mt19937_64 rng_;
};

// --- Lines in isolation ---------------------------------------------------------------------

TEST(RasterLineMatch, ShortLinesAtSubPixelPositions) {
    Generator gen(1);
    Isolated iso;
    Tally inside{"short 0-5 px"};
    Tally tiny{"short 0-1.5 px"};
    Tally edges{"short across edges"};
    for (int i = 0; i < 6000; ++i) iso.Check(inside, gen.Short(0.0, 5.0));
    for (int i = 0; i < 3000; ++i) iso.Check(tiny, gen.Short(0.0, 1.5));
    for (int i = 0; i < 3000; ++i) {
        // Start near one of the four edges so the line straddles it.
        Line l = gen.Short(0.0, 5.0);
        const double shiftX = gen.Chance(0.5) ? -l.x1 + gen.Uniform(-3.0, 3.0)
                                              : kWidth - l.x1 + gen.Uniform(-3.0, 3.0);
        const double shiftY = gen.Chance(0.5) ? -l.y1 + gen.Uniform(-3.0, 3.0)
                                              : kHeight - l.y1 + gen.Uniform(-3.0, 3.0);
        if (gen.Chance(0.5)) l.x1 += shiftX, l.x2 += shiftX;
        if (gen.Chance(0.5) || l.x1 > 3.0) l.y1 += shiftY, l.y2 += shiftY;
        iso.Check(edges, {gen.Snap(l.x1), gen.Snap(l.y1), gen.Snap(l.x2), gen.Snap(l.y2)});
    }
    inside.Report();
    tiny.Report();
    edges.Report();
    EXPECT_GT(inside.inkPixels, 6000);
}

TEST(RasterLineMatch, LongAndCrossingLines) {
    Generator gen(2);
    Isolated iso;
    Tally longLines{"long inside"};
    Tally crossing{"crossing the image"};
    for (int i = 0; i < 2000; ++i)
        iso.Check(longLines, {gen.InsideX(), gen.InsideY(), gen.InsideX(), gen.InsideY()});
    for (int i = 0; i < 2000; ++i) {
        // Ends beyond opposite or adjacent sides, up to 200 px out.
        const double out = gen.Uniform(0.0, 200.0);
        const double out2 = gen.Uniform(0.0, 200.0);
        Line l{};
        if (gen.Chance(0.5)) {
            l = {-out, gen.Uniform(-50.0, kHeight + 50.0), kWidth + out2,
                 gen.Uniform(-50.0, kHeight + 50.0)};
        } else {
            l = {gen.Uniform(-50.0, kWidth + 50.0), -out, gen.Uniform(-50.0, kWidth + 50.0),
                 kHeight + out2};
        }
        if (gen.Chance(0.5)) l = {l.x2, l.y2, l.x1, l.y1};
        iso.Check(crossing, {gen.Snap(l.x1), gen.Snap(l.y1), gen.Snap(l.x2), gen.Snap(l.y2)});
    }
    longLines.Report();
    crossing.Report();
}

TEST(RasterLineMatch, EndsFarOutside) {
    Generator gen(3);
    Isolated iso;
    for (const double magnitude : {1e3, 1e6, 1e30}) {
        char label[16];
        std::snprintf(label, sizeof label, "%g", magnitude);
        Tally oneEnd{std::string("one end far ") + label};
        Tally bothEnds{std::string("both ends far ") + label};
        for (int i = 0; i < 1500; ++i) {
            Line l{gen.InsideX(), gen.InsideY(), gen.InsideX(), gen.InsideY()};
            switch (gen.Int(0, 2)) {
                case 0: l.x2 = gen.Far(magnitude); break;
                case 1: l.y2 = gen.Far(magnitude); break;
                default: l.x2 = gen.Far(magnitude), l.y2 = gen.Far(magnitude); break;
            }
            if (gen.Chance(0.5)) l = {l.x2, l.y2, l.x1, l.y1};
            iso.Check(oneEnd, l);
        }
        for (int i = 0; i < 1500; ++i) {
            Line l{};
            switch (gen.Int(0, 3)) {
                case 0:  // horizontal-ish through the image
                    l = {-magnitude * gen.Uniform(1, 2), gen.InsideY(), magnitude * gen.Uniform(1, 2),
                         gen.InsideY()};
                    break;
                case 1:  // vertical-ish through the image
                    l = {gen.InsideX(), -magnitude, gen.InsideX(), magnitude * gen.Uniform(1, 2)};
                    break;
                case 2: {  // through a random inside point, at a random angle
                    const double px = gen.InsideX(), py = gen.InsideY();
                    const double a = gen.Uniform(0.0, 2.0 * std::numbers::pi);
                    const double s = gen.Uniform(1.0, 3.0) * magnitude;
                    const double t = gen.Uniform(1.0, 3.0) * magnitude;
                    l = {px - s * std::cos(a), py - s * std::sin(a), px + t * std::cos(a),
                         py + t * std::sin(a)};
                    break;
                }
                default:  // anywhere
                    l = {gen.Far(magnitude), gen.Far(magnitude), gen.Far(magnitude),
                         gen.Far(magnitude)};
                    break;
            }
            iso.Check(bothEnds, l);
        }
        oneEnd.Report();
        bothEnds.Report();
    }
}

TEST(RasterLineMatch, ZeroAndNearZeroLength) {
    Generator gen(4);
    Isolated iso;
    Tally zero{"zero length"};
    Tally nearZero{"near zero length"};
    for (int i = 0; i < 2000; ++i) {
        double x = gen.InsideX(), y = gen.InsideY();
        if (gen.Chance(0.2)) x = std::floor(x) + 0.5;
        if (gen.Chance(0.2)) y = std::floor(y) - 0.5;
        if (gen.Chance(0.05)) x = gen.Far(gen.Chance(0.5) ? 1e6 : 1e30);
        iso.Check(zero, {x, y, x, y});
    }
    // Ends apart by less than, about, and more than the fuzzy point equality and 1/64 pixel.
    const double offsets[] = {1e-14, 1e-13, 1e-12, 3e-12, 1e-11, 1e-10, 1e-6, 0.005, 1.0 / 64,
                              0.02, 1.0 / 32};
    for (int i = 0; i < 3000; ++i) {
        double x = gen.InsideX(), y = gen.InsideY();
        if (gen.Chance(0.1)) x = 0.0;
        if (gen.Chance(0.1)) y = 0.0;
        const double d = offsets[gen.Int(0, std::size(offsets) - 1)];
        const double relative = gen.Chance(0.5) ? d * std::max(1.0, std::fabs(x)) : d;
        Line l{x, y, x, y};
        switch (gen.Int(0, 2)) {
            case 0: l.x2 += relative; break;
            case 1: l.y2 -= relative; break;
            default: l.x2 -= relative, l.y2 += relative; break;
        }
        iso.Check(nearZero, l);
    }
    // Pixel choice for a point sits on the rounding rule: halves go away from zero, and the
    // largest double below one half still rounds up, as adding 0.5 lands on 1.0.
    Tally rounding{"zero length rounding ties"};
    const double belowHalf = std::nextafter(0.5, 0.0);
    for (int k = 0; k < 40; ++k) {
        const double base = k < 20 ? k : kWidth - 40 + k;
        for (const double frac : {0.5, belowHalf, -0.5, -belowHalf}) {
            iso.Check(rounding, {base + frac, 7.0, base + frac, 7.0});
            iso.Check(rounding, {9.0, base + frac, 9.0, base + frac});
        }
    }
    zero.Report();
    nearZero.Report();
    rounding.Report();
    EXPECT_GT(zero.inkPixels, 1500);
}

TEST(RasterLineMatch, AxisAlignedAndDiagonal) {
    Generator gen(5);
    Isolated iso;
    Tally integer{"axis/45deg on integers"};
    Tally halfInteger{"axis/45deg on halves"};
    Tally subPixel{"axis/45deg sub-pixel"};
    for (int i = 0; i < 6000; ++i) {
        Tally& tally = i % 3 == 0 ? integer : i % 3 == 1 ? halfInteger : subPixel;
        double x = gen.Uniform(-3.0, kWidth + 3.0), y = gen.Uniform(-3.0, kHeight + 3.0);
        double length = gen.Chance(0.5) ? gen.Uniform(0.0, 6.0) : gen.Uniform(0.0, 500.0);
        if (&tally == &integer) x = std::round(x), y = std::round(y), length = std::round(length);
        if (&tally == &halfInteger)
            x = std::floor(x) + 0.5, y = std::floor(y) + 0.5, length = std::round(length);
        const int dxs[] = {1, -1, 0, 0, 1, 1, -1, -1};
        const int dys[] = {0, 0, 1, -1, 1, -1, 1, -1};
        const int k = gen.Int(0, 7);
        iso.Check(tally, {x, y, x + dxs[k] * length, y + dys[k] * length});
    }
    integer.Report();
    halfInteger.Report();
    subPixel.Report();
}

// --- Dots in isolation ----------------------------------------------------------------------

TEST(RasterDotMatch, DotsInsideNearAndFarOutside) {
    Generator gen(6);
    Isolated iso;
    Tally inside{"dots inside"};
    Tally edges{"dots near/across edges"};
    Tally far{"dots far outside"};
    Tally widths{"dots width 0,1,3,4,5,-2"};
    for (int i = 0; i < 3000; ++i) iso.CheckDot(inside, {gen.InsideX(), gen.InsideY(), 2});
    for (int i = 0; i < 3000; ++i) {
        double x = gen.Snap(gen.Uniform(-4.0, 4.0) + (gen.Chance(0.5) ? 0.0 : kWidth));
        double y = gen.Snap(gen.Uniform(-4.0, 4.0) + (gen.Chance(0.5) ? 0.0 : kHeight));
        if (gen.Chance(0.3)) x = gen.InsideX();
        else if (gen.Chance(0.3)) y = gen.InsideY();
        iso.CheckDot(edges, {x, y, 2});
    }
    for (int i = 0; i < 1000; ++i) {
        const double magnitude = std::vector<double>{1e3, 1e6, 1e30}[gen.Int(0, 2)];
        double x = gen.Chance(0.5) ? gen.Far(magnitude) : gen.InsideX();
        double y = gen.Chance(0.5) ? gen.Far(magnitude) : gen.InsideY();
        if (!(std::fabs(x) > 1e3 || std::fabs(y) > 1e3)) x = gen.Far(magnitude);
        iso.CheckDot(far, {x, y, 2});
    }
    const int otherWidths[] = {0, 1, 3, 4, 5, -2};
    for (int i = 0; i < 3000; ++i) {
        const double x = gen.Snap(gen.Uniform(-6.0, kWidth + 6.0));
        const double y = gen.Snap(gen.Uniform(-6.0, kHeight + 6.0));
        iso.CheckDot(widths, {x, y, otherWidths[gen.Int(0, 5)]});
    }
    inside.Report();
    edges.Report();
    far.Report();
    widths.Report();
    EXPECT_GT(inside.inkPixels, 3 * 3000);
}

// --- The batches ----------------------------------------------------------------------------

TEST(RasterBatchMatch, LinesAloneMatchToolkit) {
    Generator gen(7);
    Isolated iso;
    Tally shortLines{"batched short 0-5 px"};
    Tally edgeLines{"batched near edges/outside"};
    Tally nearZero{"batched near zero length"};
    for (int i = 0; i < 5000; ++i) iso.CheckBatched(shortLines, gen.Short(-1.0, 5.0));
    for (int i = 0; i < 3000; ++i) {
        Line l = gen.Short(3.0, 8.0);
        if (gen.Chance(0.1)) l.x2 = gen.Far(1e6);
        iso.CheckBatched(edgeLines, l);
    }
    for (int i = 0; i < 2000; ++i) {
        // Ends on both sides of a 1/64 boundary, a few ulps apart or apart by the fuzzy limit.
        const double x = std::round(gen.Uniform(2.0, kWidth - 3.0) * 64.0) / 64.0;
        const double y = gen.Uniform(2.0, kHeight - 3.0);
        const double d = std::fabs(x) * std::vector<double>{1e-15, 5e-13, 1e-12, 2e-12, 1e-9}[gen.Int(0, 4)];
        Line l{x - d, y, x + d, y};
        if (gen.Chance(0.5)) l = {y, x - d, y, x + d};
        if (gen.Chance(0.5)) l = {l.x2, l.y2, l.x1, l.y1};
        iso.CheckBatched(nearZero, l);
    }
    // Vertices just inside and just outside the band where the fast path skips bounds checks.
    Tally hugging{"batched hugging edges"};
    for (int i = 0; i < 3000; ++i) {
        const double along = gen.Uniform(-1.0, 1.0);
        const double across = gen.Snap(gen.Uniform(-0.5, 2.5));
        Line l{};
        switch (gen.Int(0, 3)) {
            case 0: l = {across, gen.InsideY(), across + along, 0}; break;
            case 1: l = {kWidth - across, gen.InsideY(), kWidth - across + along, 0}; break;
            case 2: l = {gen.InsideX(), across, 0, across + along}; break;
            default: l = {gen.InsideX(), kHeight - across, 0, kHeight - across + along}; break;
        }
        const double length = gen.Uniform(0.0, 6.0);
        if (l.y2 == 0 && l.x2 != 0) l.y2 = l.y1 + (gen.Chance(0.5) ? length : -length);
        else l.x2 = l.x1 + (gen.Chance(0.5) ? length : -length);
        iso.CheckBatched(hugging, {gen.Snap(l.x1), gen.Snap(l.y1), gen.Snap(l.x2), gen.Snap(l.y2)});
    }
    shortLines.Report();
    edgeLines.Report();
    nearZero.Report();
    hugging.Report();
}

// Batches spanning many chunks, with a partial last chunk, and every kind of edge mixed in:
// short, long, near-zero, hugging the edges and leaving the image. Lines are sparse enough
// that a wrong pixel is rarely hidden under another line.
TEST(RasterBatchMatch, BatchesMatchToolkit) {
    Generator gen(10);
    Tally batches{"batches of 1-700 edges"};
    QImage reference = WhiteImage();
    QImage ours = WhiteImage();
    const RasterTarget target = TargetOf(ours);
    for (int round = 0; round < 60; ++round) {
        reference.fill(Qt::white);
        ours.fill(Qt::white);
        const int n = round < 10 ? round + 1 : gen.Int(60, 700);
        std::vector<Line> lines;
        for (int i = 0; i < n; ++i) {
            switch (gen.Int(0, 5)) {
                case 0: lines.push_back(gen.Short(1.0, 30.0)); break;
                case 1: {
                    const double x = gen.InsideX(), y = gen.InsideY();
                    lines.push_back({x, y, x + gen.Uniform(-0.02, 0.02), y});
                    break;
                }
                case 2: lines.push_back({gen.InsideX(), gen.InsideY(), gen.Far(1e6), gen.InsideY()}); break;
                default: lines.push_back(gen.Short(1.0, 5.0)); break;
            }
        }
        PaintWithToolkit(reference, [&](QPainter& p) {
            for (const Line& l : lines) ToolkitLine(p, l);
        });
        BatchLines(target, lines, kLineColour.rgba());
        batches.Add("batch of " + std::to_string(n), CountDiffering(reference, ours), CountInk(reference));
    }
    batches.Report();
}

// Dot batches over many chunks: inside, across the edges, far outside, in several widths.
TEST(RasterBatchMatch, DotBatchesMatchToolkit) {
    Generator gen(11);
    Tally batches{"dot batches of 1-900"};
    QImage reference = WhiteImage();
    QImage ours = WhiteImage();
    const RasterTarget target = TargetOf(ours);
    const int widths[] = {2, 2, 2, 1, 3, 4, 0, -2};
    for (int round = 0; round < 40; ++round) {
        reference.fill(Qt::white);
        ours.fill(Qt::white);
        const int n = round < 8 ? round + 1 : gen.Int(60, 900);
        const int width = widths[round % 8];
        std::vector<Dot> dots;
        for (int i = 0; i < n; ++i) {
            double x = gen.Snap(gen.Uniform(-6.0, kWidth + 6.0));
            const double y = gen.Snap(gen.Uniform(-6.0, kHeight + 6.0));
            if (gen.Chance(0.05)) x = gen.Far(gen.Chance(0.5) ? 1e6 : 1e30);
            dots.push_back({x, y, width});
        }
        PaintWithToolkit(reference, [&](QPainter& p) {
            for (const Dot& d : dots) ToolkitDot(p, d);
        });
        BatchDots(target, dots, width, kDotColour.rgba());
        batches.Add("batch of " + std::to_string(n) + " width " + std::to_string(width),
                    CountDiffering(reference, ours), CountInk(reference));
    }
    batches.Report();
}

// --- Many primitives into one image -------------------------------------------------------

// A wireframe-like frame: a jittered vertex grid, its triangle edges and its vertex dots, plus
// lines leaving the image. Drawn in the same order by both sides.
TEST(RasterFrameMatch, ManyLinesAndDotsInOneImage) {
    Generator gen(8);
    std::vector<Line> lines;
    std::vector<Dot> dots;
    const int cols = 60, rows = 50;
    std::vector<QPointF> grid;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const double x = gen.Snap(-10.0 + c * (kWidth + 20.0) / (cols - 1) + gen.Uniform(-2, 2));
            const double y = gen.Snap(-10.0 + r * (kHeight + 20.0) / (rows - 1) + gen.Uniform(-2, 2));
            grid.emplace_back(x, y);
        }
    for (int r = 0; r + 1 < rows; ++r) {
        for (int c = 0; c + 1 < cols; ++c) {
            const QPointF a = grid[r * cols + c], b = grid[r * cols + c + 1],
                          d = grid[(r + 1) * cols + c];
            lines.push_back({a.x(), a.y(), b.x(), b.y()});
            lines.push_back({a.x(), a.y(), d.x(), d.y()});
            lines.push_back({b.x(), b.y(), d.x(), d.y()});
        }
    }
    for (int i = 0; i < 300; ++i) lines.push_back({gen.InsideX(), gen.InsideY(), gen.Far(1e6), gen.Far(1e30)});
    for (const QPointF& p : grid) dots.push_back({p.x(), p.y(), 2});

    QImage reference = WhiteImage();
    PaintWithToolkit(reference, [&](QPainter& p) {
        for (const Line& l : lines) ToolkitLine(p, l);
        for (const Dot& d : dots) ToolkitDot(p, d);
    });

    QImage direct = WhiteImage();
    const RasterTarget directTarget = TargetOf(direct);
    for (const Line& l : lines) RasterLine(directTarget, l.x1, l.y1, l.x2, l.y2, kLineColour.rgba());
    for (const Dot& d : dots) RasterDot(directTarget, d.x, d.y, d.width, kDotColour.rgba());

    // The batches, as the renderer uses them.
    QImage prepared = WhiteImage();
    const RasterTarget preparedTarget = TargetOf(prepared);
    BatchLines(preparedTarget, lines, kLineColour.rgba());
    BatchDots(preparedTarget, dots, 2, kDotColour.rgba());

    const long ink = CountInk(reference);
    const long directDiff = CountDiffering(reference, direct);
    const long preparedDiff = CountDiffering(reference, prepared);
    std::printf("[ one frame: %zu lines, %zu dots ] %ld ink px, direct %ld / prepared %ld differing px\n",
                lines.size(), dots.size(), ink, directDiff, preparedDiff);
    EXPECT_GT(ink, kWidth * kHeight / 10);
    EXPECT_EQ(directDiff, 0);
    EXPECT_EQ(preparedDiff, 0);
}

// A target whose rows are longer than the image: drawing must follow the stride and leave the
// padding alone.
TEST(RasterFrameMatch, HonoursStride) {
    Generator gen(9);
    constexpr int kPad = 13;
    constexpr std::uint32_t kPadValue = 0x12345678u;
    std::vector<std::uint32_t> buffer(static_cast<size_t>((kWidth + kPad) * kHeight), 0xffffffffu);
    for (int y = 0; y < kHeight; ++y)
        std::fill_n(buffer.begin() + y * (kWidth + kPad) + kWidth, kPad, kPadValue);
    const RasterTarget target{buffer.data(), kWidth, kHeight, kWidth + kPad};

    QImage reference = WhiteImage();
    PaintWithToolkit(reference, [&](QPainter& p) {
        Generator replay(9);
        for (int i = 0; i < 2000; ++i) ToolkitLine(p, replay.Short(4.0, 30.0));
        for (int i = 0; i < 500; ++i) ToolkitDot(p, {replay.InsideX(), replay.InsideY(), 3});
    });
    for (int i = 0; i < 1000; ++i) {
        const Line l = gen.Short(4.0, 30.0);
        RasterLine(target, l.x1, l.y1, l.x2, l.y2, kLineColour.rgba());
    }
    std::vector<Line> batch;
    for (int i = 1000; i < 2000; ++i) batch.push_back(gen.Short(4.0, 30.0));
    BatchLines(target, batch, kLineColour.rgba());
    for (int i = 0; i < 500; ++i) {
        const Dot d{gen.InsideX(), gen.InsideY(), 3};
        RasterDot(target, d.x, d.y, d.width, kDotColour.rgba());
    }

    QImage ours(reinterpret_cast<const uchar*>(buffer.data()), kWidth, kHeight,
                (kWidth + kPad) * 4, QImage::Format_RGB32);
    EXPECT_EQ(CountDiffering(reference, ours), 0);
    long padTouched = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = kWidth; x < kWidth + kPad; ++x)
            padTouched += buffer[static_cast<size_t>(y * (kWidth + kPad) + x)] != kPadValue;
    EXPECT_EQ(padTouched, 0);
}

// Inputs the viewer never produces: huge finite ends still match; NaN and infinite ends draw
// nothing (the toolkit's own result for them is undefined) and must not write anywhere.
TEST(RasterRobustness, ExtremeAndNonFiniteInput) {
    Isolated iso;
    Tally huge{"ends at +-1e308"};
    for (const double big : {1e308, -1e308, std::numeric_limits<double>::max()}) {
        iso.Check(huge, {-big, 10.5, big, 20.25});
        iso.Check(huge, {30.0, -big, 40.75, big});
        iso.Check(huge, {100.0, 100.0, big, 100.0});
        iso.Check(huge, {100.0, 100.0, 120.0, big});
        iso.Check(huge, {big, big, big, big});
        iso.CheckDot(huge, {big, 10.0, 2});
    }
    huge.Report();

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QImage image = WhiteImage();
    const RasterTarget target = TargetOf(image);
    const double odd[] = {nan, inf, -inf};
    for (const double v : odd) {
        for (int slot = 0; slot < 4; ++slot) {
            double c[4] = {50.0, 60.0, 200.0, 90.0};
            c[slot] = v;
            RasterLine(target, c[0], c[1], c[2], c[3], kLineColour.rgba());
            BatchLines(target, {{c[0], c[1], c[2], c[3]}}, kLineColour.rgba());
        }
        RasterLine(target, v, v, v, v, kLineColour.rgba());
        RasterLine(target, -inf, 5.0, inf, 5.0, kLineColour.rgba());
        RasterDot(target, v, 20.0, 2, kDotColour.rgba());
        RasterDot(target, 20.0, v, 2, kDotColour.rgba());
    }
    EXPECT_EQ(CountInk(image), 0);
}

}  // namespace
}  // namespace trenn
