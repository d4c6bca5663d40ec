#include "screen_trigon.h"

#include "machine.h"
#include "pixel_colour.h"
#include "simd.h"
#include "transformation.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

namespace {

// The largest single-precision float: the slope of an edge of zero height,
// which only decides on which side of the other edge it lies.
constexpr double FMAX = 3.4028234663852886e+38;

// Both values are formed, so that the choice needs no jump (tiny triangles
// make it unpredictable); the quotient by zero is simply not used.
double slope(double dx, double dy) {
    std::uint64_t const quotient = std::bit_cast<std::uint64_t>(dx / dy);
    std::uint64_t const flat = std::bit_cast<std::uint64_t>(dx * FMAX);
    std::uint64_t const isFlat = 0 - static_cast<std::uint64_t>(dy == 0);
    return std::bit_cast<double>((flat & isFlat) | (quotient & ~isFlat));
}

}  // namespace

ScreenTrigon::ScreenTrigon(TextureImage* target_, TextureImage* texture_, int clipLeft_, int clipTop_, int width,
                           int height, C4Vector light, Transformation* camera_, int exactMode_)
    : clipLeft(clipLeft_),
      clipTop(clipTop_),
      clipRight(width - 1),
      clipBottom(height - 1),
      lightDirection(light),
      target(target_),
      texture(texture_),
      camera(camera_),
      exactMode(exactMode_) {
    normalise3(lightDirection);
    flatBrightness = std::fabs(dot4(lightDirection, C4Vector(0.0, 0.0, 1.0, 0.0)));
    // The frame buffer is owned by one rendering context and never shared, so
    // taking its pixels once does not detach anything later.
    frameBits_ = target->bits();
    frameBytesPerLine_ = target->bytesPerLine();
    // Never write outside the frame buffer, whatever rectangle was asked for.
    clipLeft = std::max(clipLeft, 0);
    clipTop = std::max(clipTop, 0);
    clipRight = std::min(clipRight, target->width() - 1);
    clipBottom = std::min(clipBottom, target->height() - 1);
    // Three spare entries: the last four pixels of a span are worked out
    // and read as one group of lanes.
    std::size_t const columns = static_cast<std::size_t>(std::max(clipRight - clipLeft + 1, 0)) + 3;
    for (std::vector<double>* v : {&span_.shade, &span_.hitX, &span_.hitY, &span_.denominator, &span_.leftX,
                                   &span_.leftY, &span_.leftDenominator})
        v->resize(columns);
}

ScreenTrigon::~ScreenTrigon() = default;

void ScreenTrigon::useCoverage(CoverageBytes& storage) {
    int const columns = std::max(clipRight - clipLeft + 1, 0);
    int const rows = std::max(clipBottom - clipTop + 1, 0);
    int const tileSize = 1 << tileShift;
    tileColumns_ = (columns + tileSize - 1) >> tileShift;
    int const tileRows = (rows + tileSize - 1) >> tileShift;
    std::size_t const pixels = static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows);
    // Eight spare bytes at the end: a span's coverage is read a word at a time.
    std::size_t const bytes = pixels + static_cast<std::size_t>(tileColumns_) * static_cast<std::size_t>(tileRows) + 8;
    storage.assign(bytes, 0);
    coverage_ = storage.data();
    freeInTile_ = storage.data() + pixels;
    for (int tileRow = 0; tileRow < tileRows; ++tileRow)
        for (int tileColumn = 0; tileColumn < tileColumns_; ++tileColumn) {
            int const width = std::min(tileSize, columns - (tileColumn << tileShift));
            int const height = std::min(tileSize, rows - (tileRow << tileShift));
            freeInTile_[tileRow * tileColumns_ + tileColumn] = static_cast<unsigned char>(width * height);
        }
}

// Gives the pixels of the clip rectangle that no triangle took the colour
// `colour`, eight coverage bytes at a time: rows wholly taken cost a read of
// their bytes.
void ScreenTrigon::fillUntaken(unsigned int colour) {
    if (coverage_ == nullptr)
        return;
    int const columns = clipRight - clipLeft + 1;
    std::uint64_t const allTaken = 0x0101010101010101u;  // coverage bytes are 0 or 1
    for (int row = clipTop; row <= clipBottom; ++row) {
        unsigned char const* const covered = coverage_ + qsizetype(row - clipTop) * columns;
        QRgb* const pixels = reinterpret_cast<QRgb*>(frameBits_ + row * frameBytesPerLine_) + clipLeft;
        for (int k = 0; k < columns; k += 8) {
            std::uint64_t bytes;
            std::memcpy(&bytes, covered + k, sizeof bytes);  // the storage has room past its end
            if (bytes == allTaken && k + 8 <= columns)
                continue;
            for (int j = k; j < std::min(k + 8, columns); ++j)
                if (covered[j] == 0)
                    pixels[j] = colour;
        }
    }
}

void ScreenTrigon::Rechnen(C4Vector* screen, C4Vector* world, C4Vector* normals, double fog) {
    if (outsideClip(screen))
        return;
    Triangle triangle(screen, world, normals, fog);
    sortByRow(screen, triangle.order);
    // Painting over, every triangle colours pixels: set up its shading once.
    // First-writer-wins sets it up when a free pixel asks for it.
    if (coverage_ == nullptr)
        prepareTerms(triangle);

    double const x0 = triangle.corner(0).x, y0 = triangle.corner(0).y;
    double const x1 = triangle.corner(1).x, y1 = triangle.corner(1).y;
    double const x2 = triangle.corner(2).x, y2 = triangle.corner(2).y;
    // Lower half: from the bottom corner up to the row of the middle corner.
    auto const drawLowerHalf = [&] {
        double const sA = slope(x1 - x2, y2 - y1);
        double const sB = slope(x0 - x2, y2 - y0);
        drawHalf(triangle, x2, simd::truncate(y2), std::max(simd::truncate(y1), clipTop), -1, std::min(sA, sB),
                 std::max(sA, sB));
    };
    // Upper half: from the top corner down to the row of the middle corner,
    // which both halves draw; the upper half's pixels are the ones that stay.
    auto const drawUpperHalf = [&] {
        double const s1 = slope(x0 - x1, y0 - y1);
        double const s2 = slope(x0 - x2, y0 - y2);
        drawHalf(triangle, x0, simd::truncate(y0), std::min(simd::truncate(y1), clipBottom), 1, std::min(s1, s2),
                 std::max(s1, s2));
    };
    if (coverage_ == nullptr) {
        drawLowerHalf();
        drawUpperHalf();
    } else {
        drawUpperHalf();
        drawLowerHalf();
    }
}

// Orders the corners by row, top first, by three compare-and-swap steps;
// equal rows are not swapped. The steps are selections rather than jumps:
// the order of tiny triangles' corners is unpredictable.
void ScreenTrigon::sortByRow(C4Vector const* screen, int (&order)[3]) {
    order[0] = 0;
    order[1] = 1;
    order[2] = 2;
    auto compareAndSwap = [screen](int& upper, int& lower) {
        int const swap = -static_cast<int>(screen[upper].y > screen[lower].y);  // all bits set: swap
        int const change = (upper ^ lower) & swap;
        upper ^= change;
        lower ^= change;
    };
    compareAndSwap(order[0], order[1]);
    compareAndSwap(order[0], order[2]);
    compareAndSwap(order[1], order[2]);
}

void ScreenTrigon::prepareTerms(Triangle& triangle) {
    TriangleTerms& terms = triangle.terms;
    double const x0 = triangle.corner(0).x, y0 = triangle.corner(0).y;
    double const x1 = triangle.corner(1).x, y1 = triangle.corner(1).y;
    double const x2 = triangle.corner(2).x, y2 = triangle.corner(2).y;
    C4Vector const& normal0 = triangle.normal(0);
    C4Vector const& normal1 = triangle.normal(1);
    C4Vector const& normal2 = triangle.normal(2);

    // The pixel normal is affine in screen space through the corner normals.
    double const area = x0 * y1 + x1 * y2 + x2 * y0 - x2 * y1 - x0 * y2 - x1 * y0;
    terms.affineNormal = area != 0;
    if (terms.affineNormal) {
        double const n0[3] = {normal0.x, normal0.y, normal0.z};
        double const n1[3] = {normal1.x, normal1.y, normal1.z};
        double const n2[3] = {normal2.x, normal2.y, normal2.z};
        for (int k = 0; k < 3; ++k) {
            terms.a[k] = (n0[k] * (y1 - y2) + n1[k] * (y2 - y0) + n2[k] * (y0 - y1)) / area;
            terms.b[k] = (n0[k] * (x2 - x1) + n1[k] * (x0 - x2) + n2[k] * (x1 - x0)) / area;
            terms.c[k] =
                (n0[k] * (x1 * y2 - x2 * y1) + n1[k] * (x2 * y0 - x0 * y2) + n2[k] * (x0 * y1 - x1 * y0)) / area;
        }
    } else {
        C4Vector const& a = normal0;
        C4Vector const& b = normal1;
        C4Vector const& c = normal2;
        terms.averageNormal =
            C4Vector((a.x + b.x + c.x) / 3, (a.y + b.y + c.y) / 3, (a.z + b.z + c.z) / 3, (a.w + b.w + c.w) / 3);
    }

    camera->SetzeDreiecksEckpunkte(triangle.worldCorner(0), triangle.worldCorner(1), triangle.worldCorner(2));
    terms.fog = pixelcolour::fogOf(triangle.fog, flatBrightness);
    triangle.termsReady = true;
}

// Rows `first` to `last` (stepping by `step`, -1 upwards or 1 downwards) of
// a triangle half whose edges start together at column `start`; the edge
// positions advance by their slopes between rows, also past rows outside
// the clip rectangle.
void ScreenTrigon::drawHalf(Triangle& triangle, double start, int first, int last, int step, double leftSlope,
                            double rightSlope) {
    double xl = start, xr = start;
    for (int row = first; step < 0 ? row >= last : row <= last; row += step) {
        drawRow(triangle, row, xl, xr);
        // Also after the last row, where the values are no longer used: a
        // test for it would be mispredicted at the end of every short half.
        xl += leftSlope;
        xr += rightSlope;
    }
}

void ScreenTrigon::drawRow(Triangle& triangle, int row, double left, double right) {
    if (row < clipTop || row > clipBottom)
        return;
    int const first = std::max(simd::truncate(left), clipLeft);
    int const last = std::min(simd::truncate(right), clipRight);
    if (last < first)
        return;
    if (coverage_ != nullptr)
        drawFreePixels(triangle, row, first, last);
    else
        drawPixels(triangle.terms, row, first, first, last, nullptr);
}

// The span first ... last under first-writer-wins: only its free pixels are
// coloured, and then marked as taken. Most spans of hidden triangles find
// none; that check stays light, and the drawing is a call of its own.
void ScreenTrigon::drawFreePixels(Triangle& triangle, int row, int first, int last) {
    qsizetype const columns = clipRight - clipLeft + 1;
    unsigned char* const covered = coverage_ + (row - clipTop) * columns + (first - clipLeft);
    int const count = last - first + 1;
    int from = 0, to = count - 1;
    if (std::endian::native == std::endian::little && count <= 8) {
        // The span's bytes as one word (the coverage storage has room past
        // its end): a bit per free pixel, its first and last found without
        // the loops' unpredictable jumps.
        std::uint64_t bytes;
        std::memcpy(&bytes, covered, sizeof bytes);
        std::uint64_t const ones = 0x0101010101010101u;
        std::uint64_t free = (bytes ^ ones) & ones;  // coverage bytes are 0 or 1
        free &= ~std::uint64_t{0} >> (64 - 8 * count);
        if (free == 0)
            return;
        from = std::countr_zero(free) >> 3;
        to = (63 - std::countl_zero(free)) >> 3;
    } else {
        while (from < count && covered[from] != 0)
            ++from;
        if (from == count)
            return;
        while (covered[to] != 0)
            --to;
    }
    drawFreeRun(triangle, row, first, from, to, covered);
}

// Pixels first + from ... first + to, the first and last of them free.
[[gnu::noinline]] void ScreenTrigon::drawFreeRun(Triangle& triangle, int row, int first, int from, int to,
                                                 unsigned char* covered) {
    if (!triangle.termsReady)
        prepareTerms(triangle);
    drawPixels(triangle.terms, row, first, first + from, first + to, covered);
    unsigned char* const tiles = freeInTile_ + ((row - clipTop) >> tileShift) * tileColumns_;
    for (int k = from; k <= to; ++k) {
        if (covered[k] == 0) {
            covered[k] = 1;
            --tiles[(first - clipLeft + k) >> tileShift];
        }
    }
}

// Colours the pixels `from` ... `to` of the span that starts at column
// `first` (where its normal is set up), skipping those whose byte in
// `covered` (indexed from `first`; null: none) is set.
// Vector gain: see "AVX2 span loop" in bench/README.md.
void ScreenTrigon::drawPixels(TriangleTerms const& terms, int row, int first, int from, int to,
                              unsigned char const* covered) {
    simd::run<colourSpan>(this, &terms, row, first, from, to, covered);
}

inline void ScreenTrigon::colourSpan(ScreenTrigon* self, TriangleTerms const* terms, int row, int first, int from,
                                     int to, unsigned char const* covered) {
    C4Vector normal = terms->averageNormal;
    if (terms->affineNormal) {
        double const column = first, r = row;
        normal = C4Vector(terms->a[0] * column + terms->b[0] * r + terms->c[0],
                          terms->a[1] * column + terms->b[1] * r + terms->c[1],
                          terms->a[2] * column + terms->b[2] * r + terms->c[2], 1.0);
    }
    if (self->texture == nullptr)
        self->drawSpan<Lookup::Untextured>(*terms, row, first, from, to, normal, covered);
    else if (self->exactMode > 0)
        self->drawSpan<Lookup::Filtered>(*terms, row, first, from, to, normal, covered);
    else
        self->drawSpan<Lookup::Nearest>(*terms, row, first, from, to, normal, covered);
}

// One pixel of the nearest-texel lookup, all steps in one go: for the many
// spans of one or two pixels that small triangles give.
inline unsigned int ScreenTrigon::nearestPixel(TriangleTerms const& terms, int column, int row,
                                               C4Vector const& normal) const {
    C4Vector const& l = lightDirection;
    double const shade = pixelcolour::shadeOf(normal.x, normal.y, normal.z, normal.w, l.x, l.y, l.z, l.w);
    if (shade < 0)
        return pixelcolour::unlit(terms.fog);
    unsigned int texel;
    camera->FarbeImDreieck2(column, row, &texel);
    return pixelcolour::lit(texel, shade, terms.fog);
}

inline void ScreenTrigon::advanceNormal(TriangleTerms const& terms, C4Vector& normal) {
    if (terms.affineNormal) {
        normal.x += terms.a[0];
        normal.y += terms.a[1];
        normal.z += terms.a[2];
    }
}

template <ScreenTrigon::Lookup lookup>
inline void ScreenTrigon::drawSpan(TriangleTerms const& terms, int row, int first, int from, int to, C4Vector normal,
                                   unsigned char const* covered) {
    // Arrays are indexed from the span's first pixel: its normal is advanced
    // pixel by pixel from there, also over pixels that are not coloured.
    int const skip = from - first;
    int const count = to - first + 1;
    if constexpr (lookup == Lookup::Nearest) {
        // Both end pixels are free whenever `covered` is given.
        if (count - skip <= 2) {
            QRgb* const pixels = reinterpret_cast<QRgb*>(frameBits_ + row * frameBytesPerLine_);
            for (int k = 0; k < skip; ++k)
                advanceNormal(terms, normal);
            pixels[from] = nearestPixel(terms, from, row, normal);
            if (to != from) {
                advanceNormal(terms, normal);
                pixels[to] = nearestPixel(terms, to, row, normal);
            }
            pixelsDrawn += to - from + 1;
            return;
        }
    }
    double* __restrict const shade = span_.shade.data();

    // The pixel normal, advanced by one addition per pixel, and its shade,
    // four pixels at a time: the normals go into the lanes straight from
    // the additions (through memory, a packed load of four single stores
    // would wait for them).
    for (int k = 0; k < skip; ++k)
        advanceNormal(terms, normal);
    double const lx = lightDirection.x, ly = lightDirection.y, lz = lightDirection.z, lw = lightDirection.w;
    double const nw = normal.w;
    int pixel = skip;
    // The last group's lanes past the span fill the spare entries.
    for (; pixel < count; pixel += 4) {
        simd::Double4 x, y, z;
        for (int j = 0; j < 4; ++j) {
            x[j] = normal.x;
            y[j] = normal.y;
            z[j] = normal.z;
            advanceNormal(terms, normal);
        }
        simd::store(shade + pixel, pixelcolour::shadeOfFour(x, y, z, nw, lx, ly, lz, lw));
    }
    int const coloured = count - skip;
    if constexpr (lookup != Lookup::Untextured)
        camera->HitSpan(row, from, coloured, span_.hitX.data() + skip, span_.hitY.data() + skip,
                        span_.denominator.data() + skip);
    if constexpr (lookup == Lookup::Filtered) {
        camera->HitSpan(row, from, coloured, span_.leftX.data() + skip, span_.leftY.data() + skip,
                        span_.leftDenominator.data() + skip, -0.25, -0.25);
    }

    QRgb* const pixels = reinterpret_cast<QRgb*>(frameBits_ + row * frameBytesPerLine_) + first;
    pixelcolour::Fog const fog = terms.fog;
    unsigned int const unlit = pixelcolour::unlit(fog);
    if constexpr (lookup == Lookup::Nearest) {
        colourNearest(fog, pixels, skip, count, covered);
        return;
    }
    for (int k = skip; k < count; ++k) {
        if (covered != nullptr && covered[k] != 0)
            continue;
        ++pixelsDrawn;
        unsigned int colour;
        if (shade[k] < 0) {
            colour = unlit;
        } else if constexpr (lookup == Lookup::Untextured) {
            colour = pixelcolour::litWhite(shade[k], fog);
        } else {
            unsigned int texel;
            if constexpr (lookup == Lookup::Filtered)
                camera->FarbeImDreieck1(
                    C2Vector{span_.hitX[k], span_.hitY[k]}, C2Vector{span_.leftX[k], span_.leftY[k]},
                    span_.denominator[k] == 0 || span_.leftDenominator[k] == 0, first + k, row, &texel);
            else
                camera->FarbeImDreieck2(span_.hitX[k], span_.hitY[k], span_.denominator[k], &texel);
            colour = pixelcolour::lit(texel, shade[k], fog);
        }
        pixels[k] = colour;
    }
}

// The colour pass of a nearest-texel span, four pixels at a time: the
// pixels `skip` ... `count` - 1 from `pixels` on, skipping those whose byte
// in `covered` is set. The lanes past the span's end read the scratch
// arrays' spare entries and are not written.
inline void ScreenTrigon::colourNearest(pixelcolour::Fog const& fog, QRgb* pixels, int skip, int count,
                                        unsigned char const* covered) {
    simd::UInt4 const unlit = simd::UInt4{} + pixelcolour::unlit(fog);
    for (int k = skip; k < count; k += 4) {
        simd::Double4 const shade = simd::load<simd::Double4>(span_.shade.data() + k);
        simd::UInt4 const texels = camera->FarbeImDreieck2(simd::load<simd::Double4>(span_.hitX.data() + k),
                                                           simd::load<simd::Double4>(span_.hitY.data() + k),
                                                           simd::load<simd::Double4>(span_.denominator.data() + k));
        simd::UInt4 const colours =
            simd::select(simd::convert<simd::Int4>(shade < 0.0), unlit, pixelcolour::litFour(texels, shade, fog));
        // Four free pixels are stored at once. The frame is never read here:
        // its lines are mostly not in the cache, and a load would wait for
        // them where a store does not.
        bool const allFree = covered == nullptr || std::memcmp(covered + k, "\0\0\0", 4) == 0;
        if (count - k >= 4 && allFree) {
            simd::store(pixels + k, colours);
            pixelsDrawn += 4;
            continue;
        }
        for (int j = 0; j < std::min(count - k, 4); ++j)
            if (covered == nullptr || covered[k + j] == 0) {
                pixels[k + j] = colours[j];
                ++pixelsDrawn;
            }
    }
}
