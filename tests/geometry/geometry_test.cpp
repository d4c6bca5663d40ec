// The vector and matrix arithmetic every frame is built from: results must
// be bit-identical to the written formulas, whatever instructions form them.
#include "geometry.h"

#include <gtest/gtest.h>

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

TEST(VectorTimesMatrix, RowVectorTranslationLivesInTheLastRowAndAliasingIsSafe) {
    C4Matrix m;
    for (int k = 0; k < 4; ++k)
        m(k, k) = 1.0;
    m(3, 0) = 5.0;
    m(3, 1) = -2.0;
    C4Vector v(1.0, 2.0, 3.0, 1.0);
    v = v * m;
    EXPECT_EQ(v.x, 6.0);
    EXPECT_EQ(v.y, 0.0);
    EXPECT_EQ(v.z, 3.0);
    EXPECT_EQ(v.w, 1.0);
    C4Vector direction(1.0, 2.0, 3.0, 0.0);  // w = 0: not moved
    direction = direction * m;
    EXPECT_EQ(direction.x, 1.0);
    EXPECT_EQ(direction.y, 2.0);
}

TEST(VectorTimesMatrix, NotANumberAndInfinityPropagatePerComponent) {
    C4Matrix m;
    m(0, 0) = 1.0;
    m(1, 1) = 1.0;
    m(2, 2) = 1.0;
    m(3, 3) = 1.0;
    double const inf = std::numeric_limits<double>::infinity();
    C4Vector const p = C4Vector(inf, std::numeric_limits<double>::quiet_NaN(), 1.0, 1.0) * m;
    EXPECT_TRUE(std::isnan(p.x));  // inf * 0 in the other terms
    EXPECT_TRUE(std::isnan(p.y));
    EXPECT_TRUE(std::isnan(p.z));
}

TEST(VectorHelpers, CrossDotAndNormalise) {
    C4Vector const x(1, 0, 0, 0), y(0, 1, 0, 0);
    C4Vector const z = cross3(x, y, 7.0);
    EXPECT_EQ(z.x, 0.0);
    EXPECT_EQ(z.y, 0.0);
    EXPECT_EQ(z.z, 1.0);
    EXPECT_EQ(z.w, 7.0);
    EXPECT_EQ(dot4(C4Vector(1, 2, 3, 4), C4Vector(5, 6, 7, 8)), 70.0);
    C4Vector v(3, 0, 4, 9);
    normalise3(v);
    EXPECT_DOUBLE_EQ(v.x, 0.6);
    EXPECT_DOUBLE_EQ(v.z, 0.8);
    EXPECT_EQ(v.w, 9.0);
    C4Vector zero(0, 0, 0, 1);
    normalise3(zero);  // left alone
    EXPECT_EQ(zero.x, 0.0);
    EXPECT_EQ(zero.w, 1.0);
}
