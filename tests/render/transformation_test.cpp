// The camera: matrix, projection, rays and the quarter-picture setting.
#include "render_scene.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <vector>

namespace {

struct QuarterSetting {
    explicit QuarterSetting(char const* value) { testsupport::setSetting("Quarter", QString::fromLatin1(value)); }
    ~QuarterSetting() { testsupport::setSetting("Quarter", QString()); }
};

TEST(TransformationView, PixelRaysProjectBackToTheirPixels) {
    Transformation camera(nullptr, C4Vector(0, 0, -1, 0), 320, 240);
    camera.SetView(C4Vector(50, 60, 300, 1), 0.7, -0.4, 250, 0.2);
    C4Vector ground[3] = {{0, 0, 0, 1}, {1, 0, 0, 1}, {0, 1, 0, 1}};
    for (auto [column, row] : {std::pair{13, 200}, std::pair{160, 120}, std::pair{300, 239}}) {
        C4Vector hit;
        double const s = camera.PunktImDreieck(column, row, ground, &hit);
        ASSERT_GT(s, 0);
        EXPECT_NEAR(hit.z, 0.0, 1e-9);
        C4Vector projected = hit * camera.viewMatrix;
        EXPECT_NEAR(projected.x / projected.w, column, 1e-3);
        EXPECT_NEAR(-projected.y / projected.w, row, 1e-3);
    }
}

// The rays of a span, cast four at a time, are the single rays bit for bit
// at every span length, start and offset; the last group's spare lanes are
// written, nothing past them.
TEST(TransformationView, SpanRaysInLanesAreTheSingleRays) {
    Transformation camera(nullptr, C4Vector(0, 0, -1, 0), 320, 240);
    camera.SetView(C4Vector(50, 60, 300, 1), 0.7, -0.4, 250, 0.2);
    C4Vector corners[3] = {{0, 0, 0, 1}, {1, 0, 0.5, 1}, {0, 1, 0.25, 1}};
    camera.SetzeDreiecksEckpunkte(corners);
    auto bits = [](double v) { return std::bit_cast<std::uint64_t>(v); };
    double const untouched = -123.5;
    for (int count = 1; count <= 9; ++count)
        for (int first : {-70000, -3, 0, 37, 318})
            for (double offset : {0.0, -0.25}) {
                std::vector<double> x(16, untouched), y(16, untouched), d(16, untouched);
                camera.HitSpan(117, first, count, x.data(), y.data(), d.data(), offset, offset);
                int const written = (count + 3) / 4 * 4;
                for (int k = 0; k < 16; ++k) {
                    SCOPED_TRACE(testing::Message() << count << " " << first << " " << offset << " " << k);
                    if (k >= written) {
                        EXPECT_EQ(bits(x[k]), bits(untouched));
                        EXPECT_EQ(bits(d[k]), bits(untouched));
                        continue;
                    }
                    double hitX, hitY;
                    double const denominator =
                        camera.HitAt(static_cast<double>(first + k) + offset, 117.0 + offset, hitX, hitY);
                    EXPECT_EQ(bits(x[k]), bits(hitX));
                    EXPECT_EQ(bits(y[k]), bits(hitY));
                    EXPECT_EQ(bits(d[k]), bits(denominator));
                }
            }
}

// The two eye-plane rules of the one projection, and its inclusive limits.
TEST(TransformationProjection, EyePlaneRulesAndInclusiveLimits) {
    Transformation camera(nullptr, C4Vector(0, 0, -1, 0), 200, 100);
    camera.viewMatrix(0, 0) = 1;
    camera.viewMatrix(3, 3) = 1;  // column = x, depth w
    using Rule = Transformation::EyePlane;
    double const nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        C4Vector point;
        bool dropRule, clampRule;
    };
    Case const cases[] = {
        {{16384, 0, 0, 1}, true, true},  {{-16384, 0, 0, 1}, true, true}, {{16384.5, 0, 0, 1}, false, false},
        {{1, 0, 0, -1}, false, false},   {{0, 0, 0, 0}, false, true},  // w 0: dropped, or divided by 1e-18
        {{1e-19, 0, 0, 0}, false, true}, {{nan, 0, 0, 1}, false, false},
    };
    for (Case const& c : cases) {
        C4Vector out;
        EXPECT_EQ(camera.Project(c.point, out, Rule::Drop), c.dropRule) << c.point.x << " " << c.point.w;
        EXPECT_EQ(camera.Project(c.point, out, Rule::Clamp), c.clampRule) << c.point.x << " " << c.point.w;
        EXPECT_EQ(camera.Bildschirmpunkt(&c.point, &out), c.clampRule ? 0 : 1);
    }
    C4Vector out;
    ASSERT_TRUE(camera.Project(C4Vector(-2.7, 0, 0, 1), out, Rule::Drop));
    EXPECT_EQ(out.x, -2.0);  // truncated toward zero
}

// A quarter setting renders one quarter of a picture twice as wide and high
// at twice the focal length: quarter 1 (top left) shares the whole picture's
// principal point and matches it exactly, the others match but for
// truncation at a few edges (about 30 of 4800 pixels); any other value
// renders the whole picture.
TEST(TransformationQuarter, EachQuarterIsItsPartOfTheDoublePicture) {
    auto render = [](int width, int height, double focal) {
        RenderScene s;
        s.width = width;
        s.height_ = height;
        s.height = [](int column, int row) { return 2.0 * std::sin(column * 0.4) * std::cos(row * 0.3); };
        s.texel = [](int u, int v) { return 0xFF000000u | unsigned(u * 2 & 255) << 16 | unsigned(v * 2 & 255) << 8; };
        s.fog = 500;
        s.build();
        return s.render(C4Vector(20, 10, 40, 1), 0.6, -0.45, focal);
    };
    QImage const whole = render(160, 120, 200);
    struct Case {
        char const* value;
        int left, top, width, height, mostDiffering;
    };
    for (Case const c : {Case{"1", 0, 0, 80, 60, 0}, Case{"2", 80, 0, 80, 60, 60}, Case{"3", 0, 60, 80, 60, 60},
                         Case{"4", 80, 60, 80, 60, 60}, Case{"5", 0, 0, 160, 120, 0}, Case{"-1", 0, 0, 160, 120, 0}}) {
        QuarterSetting setting(c.value);
        QImage const part = render(c.width, c.height, c.width == 80 ? 100 : 200);
        int differing = 0;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                differing += part.pixel(x, y) != whole.pixel(c.left + x, c.top + y);
        EXPECT_LE(differing, c.mostDiffering) << "quarter setting " << c.value;
    }
}

}  // namespace
