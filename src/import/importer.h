// One import run: elevation raster in, height map, texture and starter
// scenery out.
#pragma once

#include "elevation_model.h"
#include "scenery_writer.h"
#include "texture_builder.h"
#include "track_flight.h"

#include <QDateTime>
#include <QString>

#include <optional>

class QTextStream;

struct ImportOptions {
    QString elevationFile;
    QString outputFolder;  // empty: a folder named after the elevation file, in the current folder
    QString textureImage;  // empty: a relief texture made from the heights
    int band = 1;
    RegionRequest region;  // only this part of the model
    // Cells along the model's longer side at most (0: all of them); by
    // default twice the frame's longer side, four times for a track flight.
    std::optional<int> maxSize;
    HeightEncoding encoding = HeightEncoding::Band;
    double texelsPerCell = 4.0;
    // For a track flight: as many texels per cell as make a texel at most a
    // twentieth of the height above ground (at least texelsPerCell, within
    // the memory limit), so the camera does not look at a blur.
    bool texelsForTheTrack = false;
    double exaggeration = 1.0;
    double unitCm = 1.0;  // height-map count unit
    std::optional<double> pixelSizeX, pixelSizeY;
    std::optional<double> metresPerValue;
    int frameWidth = 640;
    int frameHeight = 480;
    qint64 memoryLimit = 0;  // bytes; 0: half the physical memory
    // Heights below this (metres) are coloured as sea floor in the relief
    // texture; default 0 when the model reaches below zero.
    std::optional<double> seaLevel;
    // Replace what an earlier import left in a non-empty output folder
    // (its frames/ emptied); without it such a folder is refused.
    bool force = false;
    // Light from this sun, with the terrain's shadows in the texture: given
    // by its place in the sky, or by a moment (with its offset from UTC) at
    // which it stands over the model's centre.
    std::optional<double> sunAzimuth, sunElevation;  // degrees
    QDateTime sunTime;
    // A curved flight along this GPS track instead of the straight one.
    QString trackFile;
    TrackFlightOptions track;
    // The track painted into the texture.
    bool drawTrack = false;
    QColor trackColour = QColor(232, 48, 42);
    double trackWidth = 0.0;  // metres; 0: three texels
};

struct ImportResult {
    QString outputFolder;
    QString heightMapFile, textureFile, sceneryFile;
    int cellsX = 0, cellsY = 0;
    double cellMetresX = 0, cellMetresY = 0;
    TextureLayout texture;
    SceneryLayout scenery;
    StraightFlight flight;
    std::optional<TrackFlight> trackFlight;
    qsizetype filledCells = 0;
};

// Checks the options that do not depend on the input; throws ImportError
// (BadArguments).
void validateOptions(ImportOptions const& options);

// Cells along the longer side that the frames can show: a starter flight
// sees the whole model across the frame, and the renderer's grid has a cell
// per one and a half height-map cells, so at twice the frame's longer side a
// grid cell is already smaller than a pixel there. A track flight flies low
// and sees the ground up close: four times.
int defaultMaxSize(ImportOptions const& options);

// The default output folder for an elevation file: its name without the
// last suffix, in the current folder.
QString defaultOutputFolder(QString const& elevationFile);

// Runs the import; progress and notes go to `log`. Throws ImportError.
ImportResult runImport(ImportOptions const& options, QTextStream& log);
