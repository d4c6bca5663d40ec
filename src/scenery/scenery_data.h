// The scalar parameters of one scenery, one field per scenery-file key.
#pragma once

#include <QObject>
#include <QString>

// The values alone, each with its default: copied and reset as one.
struct SceneryValues {
    // Straight flight: start ("...Start", keys ending in A) and end values.
    double observerXStart = 0.0;       // BeobXA
    double observerXEnd = 0.0;         // BeobXE
    double observerYStart = 0.0;       // BeobYA
    double observerYEnd = 0.0;         // BeobYE
    double observerZStart = 500.0;     // BeobZA
    double observerZEnd = 500.0;       // BeobZE
    double headingStart = 45.0;        // RichtungA, degrees
    double headingEnd = 45.0;          // RichtungE
    double tiltStart = -10.0;          // NeigungA, degrees
    double tiltEnd = -10.0;            // NeigungE
    double focalLengthStart = 1000.0;  // BrennA
    double focalLengthEnd = 1000.0;    // BrennE
    double bankStart = 0.0;            // VerkantenA, degrees
    double bankEnd = 0.0;              // VerkantenE
    double zScaleStart = 0.001;        // HDateiSkalaZA, world height per height count
    double zScaleEnd = 0.001;          // HDateiSkalaZE
    double fogStart = 100000.0;        // NebelA
    double fogEnd = 100000.0;          // NebelE

    // Output.
    QString outputFileName;  // AusDateiname, printf-style pattern for the frame number
    bool writeTga = false;   // AusgabeTGA
    bool writePng = true;    // AusgabePNG (also AusgabeYUV)
    bool writeJpg = false;   // AusgabeJPG
    bool writePpm = false;   // AusgabePPM

    // Input images.
    bool useTextureFile = false;   // TDateiVerwenden (stored only)
    QString textureFileName;       // TDateiname
    double elevationScaleX = 1.0;  // HDateiSkalaX, world units between height-map columns
    double elevationScaleY = 1.0;  // HDateiSkalaY, world units between height-map rows
    QString elevationFileName;     // HDateiname
    bool useMaskFile = false;      // MDateiVerwenden (stored only)
    QString maskFileName;          // MaskenDateiName (stored only)

    int renderQuality = 0;            // GenauRechnen: 0 nearest texel, 1 filtered, 2 filtered at double size
    int outputWidth = 640;            // AusBreite
    int outputHeight = 480;           // AusHoehe
    int gridResolutionXSetting = 64;  // AusAuflX, terrain grid cells along x
    int gridResolutionYSetting = 64;  // AusAuflY

    double heightAboveGround = 100.0;  // HoeheUeberBoden (stored only)
    double lookAhead = 100.0;          // Voraussicht (stored only)
    double bankFactor = 0.0;           // VerkantenFaktor (stored only)
    bool flyStraight = true;           // negation of Rundflug
    bool recorder = false;             // Recorder (stored only)

    int frameCount = 1;         // Bildanzahl, frames of the whole flight
    int frameNumberOffset = 0;  // Offset, added to the frame index in file names
    int firstFrame = 0;         // StartbildNr
    int lastFrame = 0;          // EndbildNr, inclusive

    double lightX = -1.0;  // LichtX
    double lightY = 1.0;   // LichtY
    double lightZ = -1.0;  // LichtZ
    double inertia = 1.0;  // Traegheit

    bool useBackgroundColor = false;            // HintergrundVerwenden
    unsigned int backgroundArgb = 0xFF000000u;  // Hintergrund, 0xAARRGGBB
};

class SceneryData : public QObject, public SceneryValues {
    Q_OBJECT

  public:
    SceneryData() = default;
    SceneryData(SceneryData const& other) : QObject(nullptr), SceneryValues(other) {}

    // Restores every default.
    void clear() { static_cast<SceneryValues&>(*this) = SceneryValues(); }
};
