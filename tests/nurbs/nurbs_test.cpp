// Tests of the B-spline evaluator: knot vectors, basis functions, curves and
// surfaces, the end-of-range rule, argument robustness and the file loader.
#include "nurbs.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <numeric>
#include <random>
#include <vector>

namespace {

std::vector<int> knotVector(int n, int c) {
    std::vector<int> x(static_cast<std::size_t>(n + c), -1);
    NURBS::knot(n, c, x.data());
    return x;
}

// A curve through the given x values (y = 0, z = 0) evaluated at p1 points.
void evaluateLine(NURBS& curve, std::vector<double> const& xs, int p1) {
    std::vector<double> net;
    for (double x : xs) {
        net.insert(net.end(), {x, 0.0, 0.0});
    }
    int const n = static_cast<int>(xs.size());
    curve.fill3D(n, 1, net.data());
    curve.rbspsurf(4, 4, n, 1, p1, 1);
}

double resultX(NURBS const& curve, int point) { return curve.getResultingSurface(3 * point, 0); }

}  // namespace

TEST(NurbsKnot, OpenUniformVectors) {
    EXPECT_EQ(knotVector(7, 4), (std::vector<int>{0, 0, 0, 0, 1, 2, 3, 4, 4, 4, 4}));
    EXPECT_EQ(knotVector(4, 4), (std::vector<int>{0, 0, 0, 0, 1, 1, 1, 1}));
    EXPECT_EQ(knotVector(1, 4), (std::vector<int>{0, 0, 0, 0, 0}));
}

// Partition of unity: the basis functions are not negative and sum to 1,
// for every order and net size, and at the end of the range.
TEST(NurbsBasis, SumToOneAcrossRandomParameters) {
    std::mt19937 random(20240601u);
    NURBS nurbs;  // never evaluated: basis() must bring its own work buffer
    for (int c = 1; c <= 5; ++c) {
        for (int npts = c; npts <= c + 6; ++npts) {
            std::vector<int> const x = knotVector(npts, c);
            std::uniform_real_distribution<double> parameter(0.0, x.back());
            for (int trial = 0; trial < 50; ++trial) {
                double const t = trial == 0 ? x.back() : parameter(random);
                std::vector<double> out(static_cast<std::size_t>(npts), -1.0);
                nurbs.basis(c, t, npts, x.data(), out.data());
                EXPECT_NEAR(std::accumulate(out.begin(), out.end(), 0.0), 1.0, 1e-12)
                    << "order " << c << ", npts " << npts << ", t = " << t;
                EXPECT_GE(*std::min_element(out.begin(), out.end()), 0.0) << "order " << c << ", t = " << t;
            }
        }
    }
}

TEST(NurbsBasis, EndOfRangeBelongsToLastFunction) {
    NURBS nurbs;
    std::vector<int> const x = knotVector(5, 4);
    std::vector<double> out(5, -1.0);
    nurbs.basis(4, 2.0, 5, x.data(), out.data());
    EXPECT_EQ(out, (std::vector<double>{0.0, 0.0, 0.0, 0.0, 1.0}));
    // A single net point's only function is 1 at 0.
    std::vector<int> const one = knotVector(1, 4);
    nurbs.basis(4, 0.0, 1, one.data(), out.data());
    EXPECT_EQ(out[0], 1.0);
}

// Memory guard: basis() must not write into the smaller work buffer an
// earlier evaluation left behind.
TEST(NurbsBasis, WorksAfterEvaluationWithSmallerNet) {
    NURBS nurbs;
    evaluateLine(nurbs, {0, 1, 2, 3}, 3);
    std::vector<int> const x = knotVector(9, 3);
    std::vector<double> out(9, -1.0);
    nurbs.basis(3, 3.5, 9, x.data(), out.data());
    EXPECT_NEAR(std::accumulate(out.begin(), out.end(), 0.0), 1.0, 1e-12);
}

// A planar (x, z) net lies in y = 0 with weight 1 per point.
TEST(NurbsFill, PlanarNetLiesInYZero) {
    NURBS nurbs;
    double const pairs[4] = {7, 8, 9, 10};
    nurbs.fill2D(2, pairs);
    std::vector<double> got;
    for (int k = 0; k < 8; ++k)
        got.push_back(nurbs.getNetPoints(k, 0));
    EXPECT_EQ(got, (std::vector<double>{7, 0, 8, 1, 9, 0, 10, 1}));
    EXPECT_EQ(nurbs.getNetPoints(4, 2), 10.0);
}

// A cubic over an evenly spaced straight net: the ends are the net ends, the
// inner points the hand-computed basis sums (not evenly spaced).
TEST(NurbsCurve, FivePointsOverTwoSegments) {
    NURBS curve;
    evaluateLine(curve, {0, 100, 200, 300, 400}, 5);
    double const expected[5] = {0, 118.75, 200, 281.25, 400};
    for (int k = 0; k < 5; ++k)
        EXPECT_NEAR(resultX(curve, k), expected[k], 1e-9) << "point " << k;
    EXPECT_EQ(curve.getResultingSurface(3, 1), 0.0);
    evaluateLine(curve, {4, 5, 6, 7}, 1);  // a single parameter uses the start only
    EXPECT_EQ(resultX(curve, 0), 4.0);
}

TEST(NurbsCurve, LastPointLandsExactlyOnLastNetPoint) {
    // Six steps of 1 / 6 add up to less than 1 by rounding alone.
    int const chosen = 7;
    double u = 0.0;
    for (int r = 1; r < chosen; ++r)
        u = u + 1.0 / (chosen - 1);
    ASSERT_LT(u, 1.0);

    NURBS curve;
    std::vector<double> const net = {0, 0, 0, 1, 2, 3, 2, 5, 1, 3.7, 1.1, 9.3};
    curve.fill3D(4, 1, net.data());
    curve.rbspsurf(4, 4, 4, 1, chosen, 1);
    int const last = 3 * (chosen - 1);
    EXPECT_EQ(curve.getResultingSurface(last, 0), 3.7) << "p1 = " << chosen;
    EXPECT_EQ(curve.getResultingSurface(last, 1), 1.1) << "p1 = " << chosen;
    EXPECT_EQ(curve.getResultingSurface(last, 2), 9.3) << "p1 = " << chosen;
}

TEST(NurbsSurface, FlatNetReproducesItsPlane) {
    // Net on the plane z = 2x - 3y + 7, 5 x 4 points, orders 3 x 2.
    int const npts = 5, mpts = 4, p1 = 7, p2 = 6;
    std::vector<double> net;
    for (int i = 0; i < npts; ++i)
        for (int j = 0; j < mpts; ++j)
            net.insert(net.end(), {10.0 * i, 5.0 * j, 2.0 * 10.0 * i - 3.0 * 5.0 * j + 7.0});
    NURBS surface;
    surface.fill3D(npts, mpts, net.data());
    surface.rbspsurf(3, 2, npts, mpts, p1, p2);
    auto const at = [&surface](int r, int c, int axis) { return surface.getResultingSurface(3 * (r * p2 + c), axis); };
    for (int r = 0; r < p1; ++r) {
        for (int c = 0; c < p2; ++c) {
            double const x = at(r, c, 0), y = at(r, c, 1);
            EXPECT_NEAR(at(r, c, 2), 2.0 * x - 3.0 * y + 7.0, 1e-9) << "r " << r << " c " << c;
            // x follows the first direction only, y the second only.
            EXPECT_NEAR(x, at(r, 0, 0), 1e-12);
            EXPECT_NEAR(y, at(0, c, 1), 1e-12);
        }
    }
    // The far corner is the corner net point.
    EXPECT_EQ(at(p1 - 1, p2 - 1, 0), 40.0);
    EXPECT_EQ(at(p1 - 1, p2 - 1, 1), 15.0);
    EXPECT_EQ(at(p1 - 1, p2 - 1, 2), 42.0);
}

TEST(NurbsRobustness, MeaninglessArgumentsGiveEmptyResult) {
    struct Case {
        int k1, k2, npts, mpts, p1, p2;
    };
    Case const cases[] = {
        {4, 4, 4, 1, 0, 1}, {4, 4, 4, 1, 3, 0}, {4, 4, 4, 1, -2, 1}, {0, 4, 4, 1, 3, 1}, {4, 0, 4, 1, 3, 1},
        {4, 4, 0, 1, 3, 1}, {4, 4, 4, 0, 3, 1}, {4, 4, -1, 1, 3, 1}, {4, 4, 5, 1, 3, 1}, {4, 4, 4, 2, 3, 1},
    };
    for (Case const& k : cases) {
        NURBS curve;
        evaluateLine(curve, {1, 2, 3, 4}, 3);
        ASSERT_EQ(resultX(curve, 0), 1.0);
        curve.rbspsurf(k.k1, k.k2, k.npts, k.mpts, k.p1, k.p2);
        EXPECT_EQ(resultX(curve, 0), 0.0)
            << k.k1 << " " << k.k2 << " " << k.npts << " " << k.mpts << " " << k.p1 << " " << k.p2;
    }
    NURBS empty;
    empty.rbspsurf(4, 4, 4, 1, 3, 1);
    EXPECT_EQ(empty.getResultingSurface(0, 0), 0.0);
    // Fewer net points than the order still give finite points: the last one.
    evaluateLine(empty, {1, 2}, 4);
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(resultX(empty, k), 2.0) << "point " << k;
}

// --- file loader ------------------------------------------------------------

namespace {

// Writes the net file and a file holding its name, to be read as standard input.
QString prepareLoaderInput(QString const& dir, QByteArray const& contents) {
    QString const netFile = dir + QStringLiteral("/net.txt");
    QString const nameFile = dir + QStringLiteral("/name.txt");
    testsupport::writeFile(netFile, contents);
    testsupport::writeFile(nameFile, netFile.toLocal8Bit() + "\n");
    return nameFile;
}

// Runs the loader with standard input taken from the file and exits with 0
// when the out-parameters and the net match the expectation, 1 otherwise.
[[noreturn]] void runLoader(QString const& nameFile, std::vector<int> const& expectedArgs,
                            std::vector<double> const& expectedNet) {
    if (std::freopen(nameFile.toLocal8Bit().constData(), "r", stdin) == nullptr)
        std::exit(2);
    std::cin.clear();
    NURBS nurbs;
    int a[6] = {-1, -1, -1, -1, -1, -1};
    nurbs.rdpnp(a[0], a[1], a[2], a[3], a[4], a[5]);
    bool ok = std::vector<int>(a, a + 6) == expectedArgs;
    for (std::size_t k = 0; ok && k < expectedNet.size(); ++k)
        ok = nurbs.getNetPoints(static_cast<int>(k), 0) == expectedNet[k];
    std::exit(ok ? 0 : 1);
}

}  // namespace

// Every outcome of the loader: its prompts and echo, a short file, a missing
// and an empty one, byte for byte.
TEST(NurbsRdpnpDeathTest, ReadsNetFileOrStopsWithMessage) {
    struct Case {
        QByteArray contents;  // null: the named file does not exist
        std::vector<int> args;
        std::vector<double> net;
        int exitCode;
        char const* message;
    } const cases[] = {
        {"test net\n4 4\n2 1\n3 1\n1.5 2 3\n4 5 6.25\n",
         {4, 4, 2, 1, 3, 1},
         {1.5, 2, 3, 1, 4, 5, 6.25, 1},
         0,
         "Enter data file name: Reading from file .*net\\.txt\ntest net\n"
         "Order 4x4, net points 2x1,\nNumber of parametric lines 3x1\\.\n"
         "Read net points\n1\\.5 2 3\n4 5 6\\.25\nNet points read - return to main\n"},
        {"header\n4 4\n7\n", {4, 4, 7, 0, -1, -1}, {}, 0, "Missing number of net points; exit"},
        {"header\n4 4\n3 1\n2 1\n1 2 3\n4 5\n",
         {4, 4, 3, 1, 2, 1},
         {1, 2, 3, 1, 0, 0, 0, 0},
         0,
         "1 2 3\nMissing point data at i = 4$"},
        {QByteArray(), {}, {}, 255, "\tThe file: .*/net\\.txt\n\tDoes not exist\\.\n"},
        {"", {}, {}, 255, "No header string in preliminary net point file\nor file is empty\\."},
    };
    for (Case const& c : cases) {
        auto dir = testsupport::makeTempDir();
        QString const nameFile = prepareLoaderInput(dir->path(), c.contents);
        if (c.contents.isNull()) {
            ASSERT_TRUE(QFile::remove(dir->path() + QStringLiteral("/net.txt")));
        }
        EXPECT_EXIT(runLoader(nameFile, c.args, c.net), testing::ExitedWithCode(c.exitCode), c.message);
    }
}
