// The camera: matrix, projection, rays and the quarter-picture setting.
#include "render_scene.h"

#include <gtest/gtest.h>

namespace {

struct QuarterSetting {
    explicit QuarterSetting(char const* value) { testsupport::setSetting("Quarter", QString::fromLatin1(value)); }
    ~QuarterSetting() { testsupport::setSetting("Quarter", QString()); }
};

TEST(TransformationView, HeadingZeroMatrixAndProjection) {
    Transformation camera(nullptr, C4Vector(0, 0, -1, 0), 200, 100);
    camera.SetView(C4Vector(0, 0, 0, 1), 0, 0, 100, 0);
    double const expected[4][4] = {{100, 0, 0, 0}, {100, -50, 0, 1}, {0, 100, 0, 0}, {-0.002, -0.0005, 0, -0.00001}};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(camera.viewMatrix(r, c), expected[r][c], 1e-15) << r << "," << c;

    C4Vector const point(10, 20, 5, 1);
    C4Vector projected;
    ASSERT_EQ(camera.Bildschirmpunkt(&point, &projected), 0);
    EXPECT_EQ(projected.x, 149.0);  // a hair left of 150, truncated
    EXPECT_EQ(projected.y, 25.0);
}

TEST(TransformationView, StraightDownKeepsAHorizontalRightAxis) {
    Transformation camera(nullptr, C4Vector(0, 0, -1, 0), 200, 100);
    camera.SetView(C4Vector(0, 0, 0, 1), 0, -std::numbers::pi / 2, 100, 0);
    EXPECT_NEAR(camera.viewVector.x, 1e-5, 1e-12);
    EXPECT_NEAR(camera.viewVector.y, 1e-5, 1e-12);
    EXPECT_NEAR(camera.rightVector.x, std::sqrt(0.5), 1e-6);
    EXPECT_NEAR(camera.rightVector.y, -std::sqrt(0.5), 1e-6);
    EXPECT_EQ(camera.rightVector.z, 0.0);
}

TEST(TransformationView, BankQuarterTurnRotatesTheRays) {
    Transformation camera(nullptr, C4Vector(0, 0, -1, 0), 200, 100);
    camera.SetView(C4Vector(0, 0, 0, 1), 0.3, -0.2, 100, std::numbers::pi / 2);
    C4Vector corners[3] = {{0, 0, -1000, 1}, {1, 0, -1000, 1}, {0, 1, -1000, 1}};
    C4Vector hit;
    camera.PunktImDreieck(101, 50, corners, &hit);
    C4Vector const& s = camera.viewVector;
    C4Vector const& u = camera.upVector;
    EXPECT_NEAR(camera.rayDirection.x, s.x - u.x, 1e-12);
    EXPECT_NEAR(camera.rayDirection.y, s.y - u.y, 1e-12);
    EXPECT_NEAR(camera.rayDirection.z, s.z - u.z, 1e-12);
}

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

TEST(TransformationView, ParallelRayIsAMiss) {
    Transformation camera(nullptr, C4Vector(0, 0, -1, 0), 200, 100);
    camera.SetView(C4Vector(0, 0, 0, 1), 0, 0, 100, 0);
    // The plane spanned by the ray directions of the centre row: every ray of
    // that row runs inside it.
    C4Vector const o = camera.observer;
    C4Vector plane[3] = {o, o + camera.viewVector, o + camera.rightVector};
    plane[1].w = plane[2].w = 1;
    C4Vector hit(7, 7, 7, 1);
    EXPECT_FALSE(camera.PunktImDreieck(100, 50, plane, &hit) > 0);
    EXPECT_EQ(hit.x, 7.0);
}

TEST(TransformationProjection, ScreenLimitsAreInclusive) {
    Transformation camera(nullptr, C4Vector(0, 0, -1, 0), 200, 100);
    camera.viewMatrix(0, 0) = 1;
    camera.viewMatrix(3, 3) = 1;  // column = x, depth 1
    C4Vector out;
    C4Vector const atLimit(16384, 0, 0, 1), beyond(16384.5, 0, 0, 1);
    EXPECT_EQ(camera.Bildschirmpunkt(&atLimit, &out), 0);
    EXPECT_EQ(camera.Bildschirmpunkt(&beyond, &out), 1);
    C4Vector const behind(1, 0, 0, -1);
    EXPECT_EQ(camera.Bildschirmpunkt(&behind, &out), 1);
    C4Vector const onEyePlane(0, 0, 0, 0);
    EXPECT_EQ(camera.Bildschirmpunkt(&onEyePlane, &out), 0);  // w 0 is divided by 1e-18
}

TEST(TransformationQuarter, SettingSelectsPrincipalPointAndDoublesFocalLength) {
    struct Case {
        char const* value;
        int quarter;
        double px, py;
    };
    for (Case c : {Case{"", 0, 160, -120}, Case{"1", 1, 320, -240}, Case{"2", 2, 0, -240}, Case{"3", 3, 320, 0},
                   Case{"4", 4, 0, 0}, Case{"5", 0, 160, -120}, Case{"-1", 0, 160, -120}}) {
        QuarterSetting setting(c.value);
        Transformation camera(nullptr, C4Vector(0, 0, -1, 0), 320, 240);
        EXPECT_EQ(camera.quarter, c.quarter) << c.value;
        EXPECT_EQ(camera.principalX, c.px) << c.value;
        EXPECT_EQ(camera.principalY, c.py) << c.value;
        camera.SetView(C4Vector(0, 0, 0, 1), 0, 0, 200, 0);
        EXPECT_EQ(camera.focalLength, c.quarter ? 400.0 : 200.0) << c.value;
    }
}

TEST(TransformationQuarter, QuarterOneIsTheTopLeftOfTheDoublePicture) {
    auto setUp = [](RenderScene& s, int width, int height) {
        s.width = width;
        s.height_ = height;
        s.height = [](int column, int row) { return 2.0 * std::sin(column * 0.4) * std::cos(row * 0.3); };
        s.texel = [](int u, int v) { return 0xFF000000u | unsigned(u * 2 & 255) << 16 | unsigned(v * 2 & 255) << 8; };
        s.fog = 500;
        s.build();
    };
    C4Vector const eye(20, 10, 40, 1);
    QImage whole;
    {
        RenderScene s;
        setUp(s, 160, 120);
        whole = s.render(eye, 0.6, -0.45, 200);
    }
    QuarterSetting setting("1");
    RenderScene s;
    setUp(s, 80, 60);
    QImage const quarter = s.render(eye, 0.6, -0.45, 100);
    int differing = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 80; ++x)
            differing += quarter.pixel(x, y) != whole.pixel(x, y);
    EXPECT_EQ(differing, 0);
}

}  // namespace
