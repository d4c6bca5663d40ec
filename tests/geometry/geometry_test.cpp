// The vector and matrix arithmetic every frame is built from: results must
// be bit-identical to the written formulas, whatever instructions form them.
#include "geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace {

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Component c of v * m, in the documented order.
double productComponent(C4Vector const& v, C4Matrix const& m, int c) {
    return ((v.x * m(0, c) + v.y * m(1, c)) + v.z * m(2, c)) + v.w * m(3, c);
}

}  // namespace

TEST(VectorTimesMatrix, EachComponentIsTheOrderedSumBitForBit) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> value(-1e3, 1e3);
    for (int round = 0; round < 500; ++round) {
        C4Matrix m;
        for (double& e : m.m)
            e = value(random) * (round % 7 == 0 ? 1e-12 : 1.0);
        C4Vector const v(value(random), value(random), value(random), round % 2 ? 1.0 : value(random));
        C4Vector const p = v * m;
        double const got[4] = {p.x, p.y, p.z, p.w};
        for (int c = 0; c < 4; ++c)
            EXPECT_TRUE(sameBits(got[c], productComponent(v, m, c))) << "component " << c << " round " << round;
    }
}

// Row vectors: a translation lives in row 3 and moves points (w = 1) only;
// `v = v * m` reads v whole first; NaN and infinity spread per component.
TEST(VectorTimesMatrix, TranslationAliasingAndNonFiniteValues) {
    C4Matrix m;
    for (int k = 0; k < 4; ++k)
        m(k, k) = 1.0;
    m(3, 0) = 5.0;
    m(3, 1) = -2.0;
    C4Vector v(1.0, 2.0, 3.0, 1.0);
    v = v * m;
    EXPECT_TRUE(v.x == 6.0 && v.y == 0.0 && v.z == 3.0 && v.w == 1.0) << v.x << " " << v.y << " " << v.z << " " << v.w;
    C4Vector direction(1.0, 2.0, 3.0, 0.0);
    direction = direction * m;
    EXPECT_TRUE(direction.x == 1.0 && direction.y == 2.0) << direction.x << " " << direction.y;
    double const inf = std::numeric_limits<double>::infinity();
    C4Vector const p = C4Vector(inf, std::numeric_limits<double>::quiet_NaN(), 1.0, 1.0) * m;
    EXPECT_TRUE(std::isnan(p.x) && std::isnan(p.y) && std::isnan(p.z));  // inf * 0 in the other terms
}

TEST(VectorHelpers, SumCrossDotAndNormalise) {
    C4Vector const s = C4Vector(1, 2, 3, 4) + C4Vector(0.5, 0.25, -3, 1);
    EXPECT_TRUE(s.x == 1.5 && s.y == 2.25 && s.z == 0.0 && s.w == 5.0);
    C4Vector const z = cross3(C4Vector(1, 0, 0, 0), C4Vector(0, 1, 0, 0), 7.0);
    EXPECT_TRUE(z.x == 0.0 && z.y == 0.0 && z.z == 1.0 && z.w == 7.0);
    EXPECT_EQ(dot4(C4Vector(1, 2, 3, 4), C4Vector(5, 6, 7, 8)), 70.0);
    C4Vector v(3, 0, 4, 9);
    normalise3(v);
    EXPECT_DOUBLE_EQ(v.x, 0.6);
    EXPECT_DOUBLE_EQ(v.z, 0.8);
    EXPECT_EQ(v.w, 9.0);
    C4Vector zero(0, 0, 0, 1);
    normalise3(zero);  // left alone
    EXPECT_TRUE(zero.x == 0.0 && zero.w == 1.0);
}

// Three column vectors of a ray-plane system: element (r, c) at 3 * r + c.
TEST(ThreeByThree, ColumnsElementsAndDeterminant) {
    C3Matrix a;
    setColumn(a, 0, C4Vector(2, 0, 1, 9));
    setColumn(a, 1, C4Vector(1, 3, 0, 9));
    setColumn(a, 2, C4Vector(0, 1, 4, 9));
    double const rowMajor[9] = {2, 1, 0, 0, 3, 1, 1, 0, 4};
    for (int k = 0; k < 9; ++k) {
        EXPECT_EQ(a.m[k], rowMajor[k]) << k;
        EXPECT_EQ(a(k / 3, k % 3), rowMajor[k]) << k;
        EXPECT_EQ(static_cast<C3Matrix const&>(a)(k / 3, k % 3), rowMajor[k]) << k;
    }
    a(2, 1) = 5.0;
    EXPECT_EQ(a.m[7], 5.0);
    // 2 (12 - 5) - 1 (0 - 1) + 0 = 15.
    EXPECT_EQ(determinant(a), 15.0);
}
