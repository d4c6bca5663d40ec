// A small synthetic scene for renderer tests: height map, texture, camera,
// frame buffer and scanner, all built in memory.
#pragma once

#include "terrain_scanner.h"
#include "test_support.h"

#include <QImage>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <numbers>

struct RenderScene {
    // Heights in world units at height-map pixel (column, row from the bottom).
    std::function<double(int, int)> height = [](int, int) { return 0.0; };
    // Texel colour at texel (u, v), v counting from the bottom row.
    std::function<unsigned int(int, int)> texel = [](int, int) { return 0xFFFFFFFFu; };
    int mapSize = 33;       // height-map pixels per side
    double spacing = 4.0;   // world units between height-map pixels
    int textureSize = 132;  // texels per side
    int grid = 16;          // cells per side
    int width = 160, height_ = 120;
    C4Vector light{0.0, 0.0, -1.0, 0.0};
    // Infinite fog distance: fog amount 0, colours exactly as lit.
    double fog = std::numeric_limits<double>::infinity();
    int exactMode = 0;
    bool useBackground = false;
    unsigned int background = 0xFF000000u;

    std::unique_ptr<ElevationImage> elevation;
    std::unique_ptr<TextureImage> texture;
    std::unique_ptr<Transformation> camera;
    std::unique_ptr<TextureImage> frame;
    TerrainScanner scanner;

    void build() {
        elevation = std::make_unique<ElevationImage>(mapSize, mapSize, QImage::Format_RGB32);
        elevation->pixelsPerUnitX = 1 / spacing;
        elevation->pixelsPerUnitY = 1 / spacing;
        elevation->setZScale(0.01);
        for (int row = 0; row < mapSize; ++row)
            for (int column = 0; column < mapSize; ++column) {
                long const count = std::lround(height(column, mapSize - 1 - row) / 0.01);
                elevation->setPixel(column, row, 0xFF000000u | (static_cast<unsigned long>(count) & 0xFFFFFFu));
            }
        elevation->refreshPixelCache();
        texture = std::make_unique<TextureImage>(textureSize, textureSize, QImage::Format_ARGB32);
        for (int row = 0; row < textureSize; ++row)
            for (int column = 0; column < textureSize; ++column)
                texture->setPixel(column, row, texel(column, textureSize - 1 - row));
        texture->refreshPixelCache();
        texture->setBackgroundColor(0xFF0000FFu);
        camera = std::make_unique<Transformation>(nullptr, light, width, height_);
        camera->SetzeTexturDatei(texture.get());
        frame = std::make_unique<TextureImage>(width, height_, QImage::Format_RGB32);
    }

    // Renders the view (angles in radians) and returns the frame.
    QImage render(C4Vector observer, double heading, double tilt, double focal, double bank = 0.0) {
        camera->SetView(observer, heading, tilt, focal, bank);
        scan(scanner, *camera, *elevation, *texture, *frame);
        return frame->copy();
    }

    // Draws the camera's view with the given objects and this scene's settings.
    void scan(TerrainScanner& target, Transformation& view, ElevationImage& heights, TextureImage& terrainTexture,
              TextureImage& frameBuffer) const {
        C4Vector l = light;
        normalise3(l);
        target.setUp({.camera = &view,
                      .elevation = &heights,
                      .frameImage = &frameBuffer,
                      .lightDirection = l,
                      .renderWidth = width,
                      .renderHeight = height_,
                      .terrainExtentX = mapSize * spacing,
                      .terrainExtentY = mapSize * spacing,
                      .gridResolutionX = double(grid),
                      .gridResolutionY = double(grid),
                      .fogDistance = fog});
        target.Scan(&terrainTexture, useBackground, background, exactMode);
    }
};
