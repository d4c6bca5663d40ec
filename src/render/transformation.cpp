#include "transformation.h"

#include "screen_trigon.h"

#include "user_settings.h"

#include <cmath>

namespace {

// Principal point of each "Settings/Quarter" value: 0 the whole picture,
// 1 to 4 the top-left, top-right, bottom-left and bottom-right quarter of a
// picture twice as wide and high.
void principalPoint(int quarter, int width, int height, double& px, double& py) {
    double const w = width;
    double const h = height;
    switch (quarter) {
        case 1:
            px = w;
            py = -h;
            break;
        case 2:
            px = 0.0;
            py = -h;
            break;
        case 3:
            px = w;
            py = 0.0;
            break;
        case 4:
            px = 0.0;
            py = 0.0;
            break;
        default:
            px = w * 0.5;
            py = h * -0.5;
            break;
    }
}

}  // namespace

Transformation::Transformation(QWidget* parent, C4Vector light, int width, int height)
    : lightDirection(light), parentWidget(parent) {
    normalise3(lightDirection);
    quarter = readUserSetting(QStringLiteral("Quarter"), 0);
    if (quarter < 0 || quarter > 4)
        quarter = 0;
    principalPoint(quarter, width, height, principalX, principalY);
}

Transformation::~Transformation() = default;

void Transformation::SetView(C4Vector position, double headingAngle, double tiltAngle, double focal, double bankAngle) {
    // The small offsets keep the observer off grid lines and the view
    // vector's horizontal part from vanishing.
    observer = C4Vector(position.x + 1e-5, position.y + 1e-5, position.z + 1e-5, position.w);
    if (quarter != 0)
        focal = 2 * focal;
    viewVector =
        C4Vector(focal * std::sin(headingAngle) * std::cos(tiltAngle) + 1e-5,
                 focal * std::cos(headingAngle) * std::cos(tiltAngle) + 1e-5, focal * std::sin(tiltAngle) + 1e-5, 0.0);
    heading = headingAngle;
    tilt = tiltAngle;
    focalLength = focal;

    double const horizontal = std::sqrt(viewVector.x * viewVector.x + viewVector.y * viewVector.y);
    rightVector = C4Vector(viewVector.y / horizontal, -viewVector.x / horizontal, 0.0, rightVector.w);
    normalise3(rightVector);
    upVector = cross3(rightVector, viewVector, upVector.w);
    normalise3(upVector);

    bank = bankAngle;
    sinBank = std::sin(bankAngle);
    cosBank = std::cos(bankAngle);
    BereiteT();
}

void Transformation::BereiteT() {
    double const sh = std::sin(heading), ch = std::cos(heading);
    double const st = std::sin(tilt), ct = std::cos(tilt);
    double const sb = std::sin(bank), cb = std::cos(bank);
    double const f = focalLength;
    double const px0 = principalX, py0 = principalY;

    double const forward[3] = {sh * ct, ch * ct, st};
    double const right0[3] = {ch, -sh, 0.0};
    double const up0[3] = {-sh * st, -ch * st, ct};
    double v0[3], v1[3];
    for (int r = 0; r < 3; ++r) {
        v0[r] = cb * right0[r] - sb * up0[r];
        v1[r] = sb * right0[r] + cb * up0[r];
    }

    C4Matrix& m = viewMatrix;
    for (int r = 0; r < 3; ++r) {
        m(r, 0) = f * v0[r] + px0 * forward[r];
        m(r, 1) = f * v1[r] + py0 * forward[r];
        m(r, 2) = 0.0;
        m(r, 3) = forward[r];
    }
    for (int c : {0, 1, 3})
        m(3, c) = -(observer.x * m(0, c) + observer.y * m(1, c) + observer.z * m(2, c));
    m(3, 2) = 0.0;
}

// The ray through the pixel meets the plane of the three corners, which
// becomes the current triangle's plane.
double Transformation::PunktImDreieck(int column, int row, C4Vector* corners, C4Vector* out) {
    SetzeDreiecksEckpunkte(corners);
    PlaneHit const hit = MeetPlane(column, row);
    if (hit.denominator == 0.0)
        return 0.0;  // parallel to the plane: no meeting point
    out->x = hit.x;
    out->y = hit.y;
    out->z = hit.z;
    return hit.lambda;
}

void Transformation::ZeichneEinDreieck(C4Vector* corners, C4Vector* normals, double fog, ScreenTrigon* trigon) {
    for (int k = 0; k < 3; ++k)
        if (!Project(corners[k], screenVertices[k], EyePlane::Drop))
            return;
    ZeichneEinDreieck(corners, normals, screenVertices, fog, trigon);
}

void Transformation::ZeichneEinDreieck(C4Vector* corners, C4Vector* normals, C4Vector* screen, double fog,
                                       ScreenTrigon* trigon) {
    if (FacesAwayFromEye(corners))
        trigon->Rechnen(screen, corners, normals, fog);
}

// Only triangles whose normal points away from the eye are drawn; the terrain
// is handed over with its triangles wound so that these are the ones seen
// from above.
bool Transformation::FacesAwayFromEye(C4Vector const* corners) {
    C4Vector const& a = corners[0];
    C4Vector const& b = corners[1];
    C4Vector const& c = corners[2];
    centroidOffset = C4Vector((a.x + b.x + c.x) / 3 - observer.x, (a.y + b.y + c.y) / 3 - observer.y,
                              (a.z + b.z + c.z) / 3 - observer.z, (a.w + b.w + c.w) / 3 - observer.w);
    faceNormal = cross3(b - a, c - a, 1.0);
    return dot4(centroidOffset, faceNormal) > 0;
}

void Transformation::SetzeDreiecksEckpunkte(C4Vector* corners) {
    SetzeDreiecksEckpunkte(corners[0], corners[1], corners[2]);
}

void Transformation::SetzeDreiecksEckpunkte(C4Vector& a, C4Vector& b, C4Vector& c) {
    setColumn(planeSystem, 0, a - observer);
    setColumn(planeSystem, 1, a - b);
    setColumn(planeSystem, 2, a - c);
    planeDeterminant = determinant(planeSystem);
    double const* m = planeSystem.m;
    planeCofactor0 = m[4] * m[8] - m[5] * m[7];
}

void Transformation::FarbeImDreieck1(int column, int row, unsigned int* colour) {
    C2Vector p0, p1;
    bool const p0p1Parallel = HitAt(column, row, p0.x, p0.y) == 0 || HitAt(column - 0.25, row - 0.25, p1.x, p1.y) == 0;
    FarbeImDreieck1(p0, p1, p0p1Parallel, column, row, colour);
}
