// Track flights: reading a track, and the path geometry (arc-length
// spacing, smoothing, the control points that make evenly spaced curve
// parameters even on the ground, continuous headings, the waypoint count).
#include "track_planner.h"
#include "elevation_model.h"
#include "import_error.h"
#include "test_support.h"
#include "track_reader.h"

#include <cpl_conv.h>
#include <ogr_spatialref.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

// The renderer's position curve over these control points at `points`
// evenly spaced parameters.
std::vector<PlanePoint> flyOver(std::vector<PlanePoint> const& control, int points) {
    std::vector<double> xs, ys;
    for (PlanePoint const& p : control)
        xs.push_back(p.x), ys.push_back(p.y);
    std::vector<double> const x = curveValues(xs, points), y = curveValues(ys, points);
    std::vector<PlanePoint> path;
    for (int k = 0; k < points; ++k)
        path.push_back({x[std::size_t(k)], y[std::size_t(k)]});
    return path;
}

// The ground distance between consecutive points, shortest and longest.
std::pair<double, double> stepRange(std::vector<PlanePoint> const& path) {
    std::vector<double> steps;
    for (std::size_t k = 1; k < path.size(); ++k)
        steps.push_back(std::hypot(path[k].x - path[k - 1].x, path[k].y - path[k - 1].y));
    return {*std::min_element(steps.begin(), steps.end()), *std::max_element(steps.begin(), steps.end())};
}

// Control points at the Greville shares of the (evenly spaced) track.
std::vector<PlanePoint> grevillePlaced(std::vector<PlanePoint> const& even, int count) {
    std::vector<PlanePoint> control;
    for (double share : grevilleShares(count))
        control.push_back(atShare(even, share));
    return control;
}

TEST(TrackPlanner, GrevilleSharesOfTheClampedCubic) {
    std::vector<double> const seven = grevilleShares(7);  // knots 0 0 0 0 1 2 3 4 4 4 4
    std::vector<double> const expected = {0, 1.0 / 12, 0.25, 0.5, 0.75, 11.0 / 12, 1};
    ASSERT_EQ(seven.size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k)
        EXPECT_NEAR(seven[k], expected[k], 1e-15) << k;
}

// On a straight line of 20 equally spaced points the clamped curve runs up to
// 2.75 times faster in its middle than at its ends; at the Greville shares
// every step is the same.
TEST(TrackPlanner, GrevillePlacementGivesEvenSpeed) {
    std::vector<PlanePoint> line;
    for (int k = 0; k < 20; ++k)
        line.push_back({100.0 * k, 0.0});
    auto const [slowest, fastest] = stepRange(flyOver(line, 200));
    EXPECT_GT(fastest / slowest, 2.5);
    auto const [low, high] = stepRange(flyOver(grevillePlaced(resampleByLength(line, 1.0), 20), 200));
    EXPECT_NEAR(high / low, 1.0, 1e-6);

    // A winding track: a sine of 2 km wavelength, 300 m amplitude, over 10 km,
    // one control point every 100 m: every step within 5 % of the median.
    std::vector<PlanePoint> winding;
    for (int k = 0; k <= 1000; ++k)
        winding.push_back({10.0 * k, 300.0 * std::sin(2 * std::numbers::pi * k / 200.0)});
    std::vector<PlanePoint> const even = resampleByLength(winding, 1.0);
    std::vector<PlanePoint> const path = flyOver(grevillePlaced(even, int(lengthOf(even) / 100)), 1000);
    std::vector<double> steps;
    for (std::size_t k = 1; k < path.size(); ++k)
        steps.push_back(std::hypot(path[k].x - path[k - 1].x, path[k].y - path[k - 1].y));
    std::vector<double> sorted = steps;
    std::nth_element(sorted.begin(), sorted.begin() + long(sorted.size() / 2), sorted.end());
    double const median = sorted[sorted.size() / 2];
    for (double step : steps)
        EXPECT_NEAR(step / median, 1.0, 0.05);
}

TEST(TrackPlanner, ResamplingByLengthAndSmoothing) {
    // Around a corner: 20 m of track in 3 m steps, the repeated point skipped.
    std::vector<PlanePoint> const corner = resampleByLength({{0, 0}, {10, 0}, {10, 0}, {10, 10}}, 3.0);
    std::vector<PlanePoint> const expected = {{0, 0}, {3, 0}, {6, 0}, {9, 0}, {10, 2}, {10, 5}, {10, 8}, {10, 10}};
    ASSERT_EQ(corner.size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k) {
        EXPECT_NEAR(corner[k].x, expected[k].x, 1e-12) << k;
        EXPECT_NEAR(corner[k].y, expected[k].y, 1e-12) << k;
    }
    EXPECT_EQ(resampleByLength({{5, 5}, {5, 5}}, 1.0).size(), 1u);

    // A zigzag of +-1 m loses its teeth; a straight line and both ends stay.
    std::vector<PlanePoint> zigzag;
    for (int k = 0; k <= 100; ++k)
        zigzag.push_back({double(k), k % 2 ? 1.0 : -1.0});
    std::vector<PlanePoint> const smoothed = smoothAlong(zigzag, 1.0, 5.0);
    for (std::size_t k = 20; k <= 80; ++k)
        EXPECT_LT(std::fabs(smoothed[k].y), 0.01) << k;
    EXPECT_EQ(smoothed.front().y, -1.0);
    EXPECT_EQ(smoothed.back().y, -1.0);
    // A Gaussian far wider than the path takes no more than the path.
    EXPECT_EQ(smoothAlong(zigzag, 1.0, 1e300).size(), zigzag.size());
}

// Headings across north are made continuous; the waypoint count grows with
// the sharpness of the turns.
TEST(TrackPlanner, ContinuousHeadingsAndWaypointCount) {
    std::vector<double> headings = {3.0, -3.0, 3.0, 0.1 - 2 * std::numbers::pi};
    unwrapHeadings(headings);
    EXPECT_NEAR(headings[1], 2 * std::numbers::pi - 3.0, 1e-12);
    EXPECT_NEAR(headings[2], 3.0, 1e-12);
    EXPECT_NEAR(headings[3], 0.1, 1e-12);

    double const degree = std::numbers::pi / 180;
    std::vector<double> steady(500, 1.0), turning(500), hairpin(500);
    for (int k = 0; k < 500; ++k) {
        turning[std::size_t(k)] = 2.0 * k / 499;  // a steady turn: linear in time
        hairpin[std::size_t(k)] = std::numbers::pi / (1 + std::exp(-(k - 250) / 10.0));
    }
    EXPECT_EQ(waypointCountFor(steady, degree), 7);
    EXPECT_EQ(waypointCountFor(turning, degree), 7);
    int const sharp = waypointCountFor(hairpin, degree);
    EXPECT_GT(sharp, 25);
    std::vector<double> const followed = curveValues(waypointAngles(hairpin, sharp), 500);
    for (int k = 0; k < 500; ++k)
        EXPECT_NEAR(followed[std::size_t(k)], hairpin[std::size_t(k)], degree) << k;
}

// A model in UTM zone 17 north, where longitude -81 is the central meridian.
ElevationModel utmModel() {
    ElevationModel model;
    OGRSpatialReference srs;
    srs.importFromEPSG(32617);
    char* wkt = nullptr;
    srs.exportToWkt(&wkt);
    model.srsWkt = wkt;
    CPLFree(wkt);
    return model;
}

// GPX (with elevations, its track behind a waypoint), KML and CSV with and
// without a header are read in order and placed in the model's coordinates.
TEST(TrackReader, ReadsEachFormatIntoTheModelsCoordinates) {
    auto const dir = testsupport::makeTempDir();
    auto file = [&](char const* name, QByteArray const& text) {
        testsupport::writeFile(dir->filePath(name), text);
        return dir->filePath(name);
    };
    QString const gpx =
        file("t.gpx",
             "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" creator=\"test\" "
             "xmlns=\"http://www.topografix.com/GPX/1/1\"><wpt lat=\"36.5\" lon=\"-80.5\"/><trk><trkseg>"
             "<trkpt lat=\"36.0\" lon=\"-81.0\"><ele>300</ele></trkpt>"
             "<trkpt lat=\"36.01\" lon=\"-81.0\"><ele>310</ele></trkpt>"
             "<trkpt lat=\"36.01\" lon=\"-80.99\"><ele>320</ele></trkpt>"
             "</trkseg></trk></gpx>\n");
    QString const kml = file("t.kml",
                             "<?xml version=\"1.0\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document>"
                             "<Placemark><LineString><coordinates>-81.0,36.0 -81.0,36.01 -80.99,36.01"
                             "</coordinates></LineString></Placemark></Document></kml>\n");
    QString const headed = file("h.csv", "lon,lat,alt\n-81.0,36.0,300\n-81.0,36.01,310\n-80.99,36.01,320\n");
    QString const bare = file("b.csv", "-81.0,36.0\n-81.0,36.01\n-80.99,36.01\n");
    ElevationModel const model = utmModel();
    for (QString const& name : {gpx, kml, headed, bare}) {
        SCOPED_TRACE(name.toStdString());
        std::vector<TrackVertex> const track = readTrack(name, model);
        ASSERT_EQ(track.size(), 3u);
        EXPECT_NEAR(track[0].x, 500000.0, 0.01);  // on the central meridian
        EXPECT_NEAR(track[1].x, 500000.0, 0.01);
        EXPECT_NEAR(track[1].y - track[0].y, 1109.6, 1.0);  // 0.01 degree of latitude
        EXPECT_NEAR(track[2].x - track[1].x, 900.7, 2.0);   // 0.01 degree of longitude at 36 degrees
    }
    EXPECT_EQ(readTrack(gpx, model)[2].altitude, 320.0);
    EXPECT_EQ(readTrack(headed, model)[1].altitude, 310.0);

    for (auto const& [name, words] : {std::pair{dir->filePath("none.gpx"), "Cannot read the track"},
                                      {file("empty.gpx",
                                            "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" "
                                            "xmlns=\"http://www.topografix.com/GPX/1/1\"></gpx>\n"),
                                       "holds no line and no points"}}) {
        try {
            readTrack(name, model);
            ADD_FAILURE() << name.toStdString();
        } catch (ImportError const& error) {
            EXPECT_EQ(error.code(), ExitCode::InputError);
            EXPECT_TRUE(error.message().contains(QLatin1String(words))) << error.message().toStdString();
        }
    }
}

}  // namespace
