// The camera: view parameters, the world-to-screen matrix, the ray through a
// screen position and its meeting point with the current triangle's plane.
//
// One Transformation serves one rendering context. Its scratch fields (the
// current triangle's plane and the rays of the pixel being coloured) are
// overwritten by every triangle and pixel, so one object must not be used by
// two threads at once; separate objects are independent.
#pragma once

#include "geometry.h"
#include "texture_image.h"

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

    // Projects a world point; 0 when it lands on the usable screen range, 1 otherwise.
    int Bildschirmpunkt(C4Vector const* in, C4Vector* out) const;

    C4Vector Beobachter() const { return observer; }
    C4Vector Sichtvektor() const { return viewVector; }
    double Blickrichtung() const { return heading; }
    void SetzeTexturDatei(TextureImage* textureImage) { texture = textureImage; }

    // Where the ray of pixel (column, row) meets the plane through the three
    // corners: writes x, y, z of `out` and returns the ray parameter (positive
    // in front of the eye). A ray parallel to the plane returns 0 and leaves
    // `out` untouched.
    double PunktImDreieck(int column, int row, C4Vector* corners, C4Vector* out);

    // Culls, projects and rasterises one terrain triangle.
    void ZeichneEinDreieck(C4Vector* corners, C4Vector* normals, double fog, ScreenTrigon* trigon);
    // Its two steps: the back-face test (true: the triangle is drawn), and
    // the projection of one corner to a whole-number column and row (false:
    // the corner is at or behind the eye plane or beyond +-16384, and the
    // triangle is dropped).
    bool FacesAwayFromEye(C4Vector const* corners);
    bool ProjectCorner(C4Vector const& corner, C4Vector& screen) const;

    // Prepares the plane of the triangle whose pixels are coloured next.
    void SetzeDreiecksEckpunkte(C4Vector* corners);
    void SetzeDreiecksEckpunkte(C4Vector& a, C4Vector& b, C4Vector& c);

    // Texture colour seen through pixel (column, row) of the current
    // triangle: nearest texel (2) or filtered (1).
    void FarbeImDreieck2(int column, int row, unsigned int* colour) {
        C2Vector hit;
        if (hitPoint(column, row, hit))
            texture->GetColorAt(hit.x, hit.y, colour);
        else
            *colour = texture->backgroundColor;
    }
    void FarbeImDreieck1(int column, int row, unsigned int* colour);

    // The same meeting points as FarbeImDreieck2 finds, for the `count`
    // pixels of `row` from column `first` on, computed together so that the
    // compiler can use packed arithmetic (each value is computed exactly as
    // for a single pixel). A zero in `denominators` marks a ray parallel to
    // the plane.
    // The offsets shift every ray by a fraction of a pixel, as the filtered
    // lookup's extra rays are.
    void HitSpan(int row, int first, int count, double* hitX, double* hitY, double* denominators,
                 double columnOffset = 0.0, double rowOffset = 0.0) const;

    // HitSpan for a single pixel (column, row): the same arithmetic inline,
    // for spans too short to gain from packed passes. Returns the denominator.
    double HitPixel(int column, int row, double& hitX, double& hitY) const {
        double const c = -static_cast<double>(row) - principalY;
        double const a = static_cast<double>(column) - principalX;
        double const u = cosBank * a + sinBank * c;
        double const v = cosBank * c - sinBank * a;
        double const dx = viewVector.x + u * rightVector.x + v * upVector.x;
        double const dy = viewVector.y + u * rightVector.y + v * upVector.y;
        double const dz = viewVector.z + u * rightVector.z + v * upVector.z;
        double const* m = planeSystem.m;
        double const d1 = dx * planeCofactor0 - m[1] * (dy * m[8] - m[5] * dz) + m[2] * (dy * m[7] - m[4] * dz);
        double const lambda = planeDeterminant / d1;
        hitX = observer.x + lambda * dx;
        hitY = observer.y + lambda * dy;
        return d1;
    }

    // The filtered colour from the meeting points of a pixel's centre ray
    // (p0), of the ray a quarter pixel up-left (p1) and up-right (p2);
    // `parallel` says whether any of the rays that are needed runs parallel
    // to the plane. p2 is used only when the texture is minified.
    void FilteredTexel(C2Vector const& p0, C2Vector const& p1, C2Vector const& p2, bool p0p1Parallel,
                       bool p2Parallel, unsigned int* colour);

    QWidget* parentWidget;
    C4Vector observer;
    C4Vector viewVector;
    double heading = 0.0;
    double tilt = 0.0;
    double focalLength = 0.0;
    C4Vector lightDirection;
    C4Vector rightVector;
    C4Vector upVector;
    double bank = 0.0;
    C2Vector pixelOffset;
    C2Vector rotatedOffset;
    C4Vector rayDirection;
    C4Vector samplePoints[5];
    C4Vector screenVertices[3];
    C4Vector centroidOffset;
    C4Vector faceNormal;
    C3Matrix planeSystem;
    double planeDeterminant = 0.0;
    double sinBank = 0.0;
    double cosBank = 0.0;
    double principalX = 0.0;
    double principalY = 0.0;
    TextureImage* texture = nullptr;
    C4Matrix viewMatrix;
    int quarter = 0;

private:
    // The ray direction through screen position (p, q) into rayDirection.
    void castRay(double p, double q) {
        pixelOffset.x = p - principalX;
        pixelOffset.y = -q - principalY;
        rotatedOffset.x = cosBank * pixelOffset.x + sinBank * pixelOffset.y;
        rotatedOffset.y = cosBank * pixelOffset.y - sinBank * pixelOffset.x;
        rayDirection.x = viewVector.x + rotatedOffset.x * rightVector.x + rotatedOffset.y * upVector.x;
        rayDirection.y = viewVector.y + rotatedOffset.x * rightVector.y + rotatedOffset.y * upVector.y;
        rayDirection.z = viewVector.z + rotatedOffset.x * rightVector.z + rotatedOffset.y * upVector.z;
    }

    // Where the ray through (p, q) meets the current triangle's plane (x and
    // y only); false when the ray runs parallel to the plane.
    bool hitPoint(double p, double q, C2Vector& hit) {
        castRay(p, q);
        setColumn(planeSystem, 0, rayDirection);
        // The first cofactor does not involve the ray and was computed with the
        // plane; the rest of the determinant is evaluated as written.
        double const* m = planeSystem.m;
        double const d1 = m[0] * planeCofactor0 - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                          m[2] * (m[3] * m[7] - m[4] * m[6]);
        if (d1 == 0.0)
            return false;
        double const lambda = planeDeterminant / d1;
        hit.x = observer.x + lambda * rayDirection.x;
        hit.y = observer.y + lambda * rayDirection.y;
        return true;
    }

    double planeCofactor0 = 0.0;  // m11 * m22 - m12 * m21 of planeSystem
};
