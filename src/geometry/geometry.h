// Homogeneous vectors and matrices of the renderer, all in double precision.
//
// Conventions every caller relies on: vectors are row vectors multiplied on
// the left of a matrix, matrices are stored row-major, so a translation lives
// in row 3. Points carry w = 1, directions w = 0.
#pragma once

#include <cmath>

struct C4Vector {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double w = 1.0;

    constexpr C4Vector() = default;
    constexpr C4Vector(double x_, double y_, double z_, double w_) : x(x_), y(y_), z(z_), w(w_) {}
    // Copies all four components; trivial, so arrays of vectors move as blocks.
    C4Vector(C4Vector const&) = default;
    C4Vector& operator=(C4Vector const&) = default;
};

// Sixteen doubles, row-major: element (r, c) at index 4 * r + c. All zero by default.
struct C4Matrix {
    double m[16] = {};

    double& operator()(int row, int column) { return m[4 * row + column]; }
    double operator()(int row, int column) const { return m[4 * row + column]; }
};

// Nine doubles, row-major: element (r, c) at index 3 * r + c. All zero by default.
// The renderer stores three column vectors in it for a ray-plane intersection.
struct C3Matrix {
    double m[9] = {};

    double& operator()(int row, int column) { return m[3 * row + column]; }
    double operator()(int row, int column) const { return m[3 * row + column]; }
};

struct C2Vector {
    double x = 0.0;
    double y = 0.0;
};

// Row vector times matrix; the whole input is read before the result is
// written, so `v = v * m` is safe. Each component is
// ((x m0c + y m1c) + z m2c) + w m3c.
inline C4Vector operator*(C4Vector const& v, C4Matrix const& m) {
    auto column = [&v, &m](int c) {
        return ((v.x * m.m[c] + v.y * m.m[4 + c]) + v.z * m.m[8 + c]) + v.w * m.m[12 + c];
    };
    return {column(0), column(1), column(2), column(3)};
}

// Component-wise operations over all four components, w included.
inline C4Vector operator+(C4Vector const& a, C4Vector const& b) { return {a.x + b.x, a.y + b.y, a.z + b.z, a.w + b.w}; }
inline C4Vector operator-(C4Vector const& a, C4Vector const& b) { return {a.x - b.x, a.y - b.y, a.z - b.z, a.w - b.w}; }

inline double dot4(C4Vector const& a, C4Vector const& b) { return a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w; }

// Cross product of the first three components; the caller chooses w.
inline C4Vector cross3(C4Vector const& a, C4Vector const& b, double w) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x, w};
}

inline double length3(C4Vector const& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

// Divides x, y and z by their length unless it is 0; w is left alone.
inline void normalise3(C4Vector& v) {
    double const length = length3(v);
    if (length != 0.0) {
        v.x /= length;
        v.y /= length;
        v.z /= length;
    }
}

inline double determinant(C3Matrix const& a) {
    return a.m[0] * (a.m[4] * a.m[8] - a.m[5] * a.m[7]) - a.m[1] * (a.m[3] * a.m[8] - a.m[5] * a.m[6]) +
           a.m[2] * (a.m[3] * a.m[7] - a.m[4] * a.m[6]);
}

// Stores the first three components of v as column `column` of m.
inline void setColumn(C3Matrix& m, int column, C4Vector const& v) {
    m.m[column] = v.x;
    m.m[3 + column] = v.y;
    m.m[6 + column] = v.z;
}
