// The camera: view parameters, the world-to-screen matrix, the ray through a
// screen position and its meeting point with the current triangle's plane.
//
// One Transformation serves one rendering context. Its scratch fields (the
// current triangle's plane and the rays of the pixel being coloured) are
// overwritten by every triangle and pixel, so one object must not be used by
// two threads at once; separate objects are independent.
#pragma once

#include "geometry.h"
#include "simd.h"
#include "texture_image.h"

#include <type_traits>

class QWidget;
class ScreenTrigon;

class Transformation {
  public:
    // Light direction and the frame size in pixels. Reads "Settings/Quarter".
    Transformation(QWidget* parent, C4Vector light, int width, int height);
    ~Transformation();

    // Observer position (w = 1), heading, tilt, focal length in pixels and
    // bank, angles in radians.
    void SetView(C4Vector position, double headingAngle, double tiltAngle, double focal, double bankAngle);
    // Rebuilds viewMatrix from the stored view.
    void BereiteT();

    // How a point at or behind the eye plane is projected: a triangle's
    // corner is dropped there; a single screen point only behind it, one on
    // it being divided by 1e-18 instead (pushed far out).
    enum class EyePlane { Drop, Clamp };
    // The one projection of a world point: whole-number column and row in x
    // and y (truncated), depth in w. False when the point is dropped by the
    // eye-plane rule or lands beyond +-16384 (inclusive limits) or nowhere.
    [[gnu::always_inline]] bool Project(C4Vector const& point, C4Vector& screen, EyePlane rule) const;
    // Project with the single-point rule: 0 on the usable screen range, 1 otherwise.
    int Bildschirmpunkt(C4Vector const* in, C4Vector* out) const { return Project(*in, *out, EyePlane::Clamp) ? 0 : 1; }

    C4Vector Beobachter() const { return observer; }
    C4Vector Sichtvektor() const { return viewVector; }
    double Blickrichtung() const { return heading; }
    void SetzeTexturDatei(TextureImage* textureImage) { texture = textureImage; }

    // Where the ray of pixel (column, row) meets the plane through the three
    // corners: writes x, y, z of `out` and returns the ray parameter (positive
    // in front of the eye). A ray parallel to the plane returns 0 and leaves
    // `out` untouched.
    double PunktImDreieck(int column, int row, C4Vector* corners, C4Vector* out);

    // Culls, projects and rasterises one terrain triangle (corners in their
    // winding order).
    void ZeichneEinDreieck(C4Vector* corners, C4Vector* normals, double fog, ScreenTrigon* trigon);
    // The same with the corners' projections given (`screen`, as Project with
    // EyePlane::Drop gave them, all on screen): the terrain scan keeps them
    // with its grid points, each shared by up to six triangles.
    void ZeichneEinDreieck(C4Vector* corners, C4Vector* normals, C4Vector* screen, double fog, ScreenTrigon* trigon);
    // The back-face test: true when the triangle is drawn.
    bool FacesAwayFromEye(C4Vector const* corners);

    // Prepares the plane of the triangle whose pixels are coloured next.
    void SetzeDreiecksEckpunkte(C4Vector* corners);
    void SetzeDreiecksEckpunkte(C4Vector& a, C4Vector& b, C4Vector& c);

    // The nearest-texel colour seen through pixel (column, row) of the
    // current triangle, and the rule itself for a ray already cast: the texel
    // at the meeting point, or the background for a ray parallel to the
    // plane (denominator 0). Every unfiltered pixel is coloured here.
    void FarbeImDreieck2(int column, int row, unsigned int* colour) const {
        double hitX, hitY;
        double const denominator = HitAt(column, row, hitX, hitY);
        FarbeImDreieck2(hitX, hitY, denominator, colour);
    }
    [[gnu::always_inline]] void FarbeImDreieck2(double hitX, double hitY, double denominator,
                                                unsigned int* colour) const {
        if (denominator == 0)
            *colour = texture->backgroundColor;
        else
            texture->GetColorAt(hitX, hitY, colour);
    }
    // The same rule for four rays at once, lane by lane.
    [[gnu::always_inline]] simd::UInt4 FarbeImDreieck2(simd::Double4 hitX, simd::Double4 hitY,
                                                       simd::Double4 denominator) const {
        return simd::select(simd::convert<simd::Int4>(denominator == 0.0), simd::UInt4{} + texture->backgroundColor,
                            texture->GetColorsAt(hitX, hitY));
    }
    // The filtered colour seen through pixel (column, row), and the rule
    // itself from the meeting points of its centre ray (p0) and of the ray a
    // quarter pixel up-left (p1), and whether either of these runs parallel
    // to the plane. Every filtered pixel is coloured here.
    void FarbeImDreieck1(int column, int row, unsigned int* colour);
    [[gnu::always_inline]] void FarbeImDreieck1(C2Vector const& p0, C2Vector const& p1, bool p0p1Parallel, int column,
                                                int row, unsigned int* colour);

    // Where the ray through screen position (p, q), a pixel or a fraction of
    // one, meets the plane of the current triangle: the ray by the
    // bank-rotated offset from the principal point, then Cramer's rule with
    // the ray in the first column (whose other cofactor terms were computed
    // with the plane). `denominator` is the ray's determinant d1; 0 means
    // the ray runs parallel to the plane and the point is meaningless;
    // `lambda` is the ray parameter (positive in front of the eye). The one
    // ray cast of the renderer: every texture lookup and the view clipping
    // go through here.
    // In lanes (T = simd::Double4, p one column per lane), each lane is
    // exactly the scalar ray.
    template <class T>
    struct PlaneHitOf {
        T x, y, z, lambda, denominator;
    };
    using PlaneHit = PlaneHitOf<double>;
    template <class T = double>
    [[gnu::always_inline]] PlaneHitOf<T> MeetPlane(std::type_identity_t<T> p, double q) const {
        double const c = -q - principalY;
        T const a = p - principalX;
        T const u = cosBank * a + sinBank * c;
        T const v = cosBank * c - sinBank * a;
        T const dx = viewVector.x + u * rightVector.x + v * upVector.x;
        T const dy = viewVector.y + u * rightVector.y + v * upVector.y;
        T const dz = viewVector.z + u * rightVector.z + v * upVector.z;
        double const* m = planeSystem.m;
        T const d1 = dx * planeCofactor0 - m[1] * (dy * m[8] - m[5] * dz) + m[2] * (dy * m[7] - m[4] * dz);
        T const lambda = planeDeterminant / d1;
        return {observer.x + lambda * dx, observer.y + lambda * dy, observer.z + lambda * dz, lambda, d1};
    }
    // MeetPlane's x and y; returns the denominator.
    [[gnu::always_inline]] double HitAt(double p, double q, double& hitX, double& hitY) const {
        PlaneHit const hit = MeetPlane(p, q);
        hitX = hit.x;
        hitY = hit.y;
        return hit.denominator;
    }

    // HitAt for the `count` pixels of `row` from column `first` on, each
    // shifted by the offsets (the filtered lookup's extra rays), four rays
    // at a time in lanes, each exactly as HitAt casts it. The last group's
    // lanes past `count` are written too: the arrays need three spare
    // entries. Vector gain: see "AVX2 span loop" and "Rays of a span in
    // lanes" in bench/README.md.
    [[gnu::always_inline]] void HitSpan(int row, int first, int count, double* __restrict hitX, double* __restrict hitY,
                                        double* __restrict denominators, double columnOffset = 0.0,
                                        double rowOffset = 0.0) const {
        // The fractional position is formed exactly as for a single ray; an
        // offset of 0 changes no value.
        double const q = static_cast<double>(row) + rowOffset;
        for (int k = 0; k < count; k += 4) {
            int const column = first + k;
            simd::Int4 const columns{column, column + 1, column + 2, column + 3};
            PlaneHitOf<simd::Double4> const hit =
                MeetPlane<simd::Double4>(simd::convert<simd::Double4>(columns) + columnOffset, q);
            simd::store(hitX + k, hit.x);
            simd::store(hitY + k, hit.y);
            simd::store(denominators + k, hit.denominator);
        }
    }

    C4Vector observer;
    C4Vector viewVector;
    double heading = 0.0;
    double tilt = 0.0;
    double focalLength = 0.0;
    C4Vector lightDirection;
    C4Vector rightVector;
    C4Vector upVector;
    double bank = 0.0;
    C4Vector screenVertices[3];
    double principalX = 0.0;
    double principalY = 0.0;
    TextureImage* texture = nullptr;
    C4Matrix viewMatrix;
    int quarter = 0;

  private:
    QWidget* parentWidget;  // kept for the interface; the renderer has no window
    // Scratch of the current triangle and pixel, and the bank's sine and
    // cosine, overwritten by every triangle and ray.
    C4Vector samplePoints[5];
    C4Vector centroidOffset;
    C4Vector faceNormal;
    C3Matrix planeSystem;
    double planeDeterminant = 0.0;
    double sinBank = 0.0;
    double cosBank = 0.0;
    double planeCofactor0 = 0.0;  // m11 * m22 - m12 * m21 of planeSystem
};

// The filtered lookup runs for every pixel of a filtered frame: inline, so
// that the rasteriser's span loop compiles it for its own vector width.
inline void Transformation::FarbeImDreieck1(C2Vector const& p0, C2Vector const& p1, bool p0p1Parallel, int column,
                                            int row, unsigned int* colour) {
    // A ray parallel to the plane has no texture point: the pixel shows the background.
    if (p0p1Parallel) {
        *colour = texture->backgroundColor;
        return;
    }
    samplePoints[0].x = p0.x;
    samplePoints[0].y = p0.y;
    samplePoints[1].x = p1.x;
    samplePoints[1].y = p1.y;
    if (std::fabs(p1.x - p0.x) < 1 && std::fabs(p1.y - p0.y) < 1) {
        // Magnified: a quarter pixel covers less than a texel.
        texture->GetColor(samplePoints[0], colour);
        return;
    }
    C2Vector p2;
    if (HitAt(column + 0.25, row - 0.25, p2.x, p2.y) == 0) {
        *colour = texture->backgroundColor;
        return;
    }
    // Minified: average five texels; the last two points mirror the first
    // two through the centre instead of casting two more rays.
    samplePoints[2].x = p2.x;
    samplePoints[2].y = p2.y;
    samplePoints[3].x = 2 * p0.x - p2.x;
    samplePoints[3].y = 2 * p0.y - p2.y;
    samplePoints[4].x = 2 * p0.x - p1.x;
    samplePoints[4].y = 2 * p0.y - p1.y;
    texture->GetColorArray(samplePoints, colour);
}

inline bool Transformation::Project(C4Vector const& point, C4Vector& screen, EyePlane rule) const {
    C4Vector p = point * viewMatrix;
    if (rule == EyePlane::Clamp) {
        if (p.w < 0)
            return false;
        if (p.w < 1e-18)
            p.w = 1e-18;
    } else if (!(p.w > 0)) {
        return false;
    }
    p.x = p.x / p.w;
    p.y = -p.y / p.w;
    if (!(p.x >= -16384 && p.x <= 16384 && p.y >= -16384 && p.y <= 16384))
        return false;  // far off screen, or not a number
    p.x = std::trunc(p.x);
    p.y = std::trunc(p.y);
    screen = p;
    return true;
}
