// The scalar parameters of one scenery, one field per scenery-file key.
#pragma once

#include <QObject>
#include <QString>

class SceneryData : public QObject {
    Q_OBJECT

  public:
    SceneryData();
    SceneryData(SceneryData const& other);
    ~SceneryData() override;

    // Restores every default.
    void clear();

    // Straight flight: start ("...Start", keys ending in A) and end values.
    double observerXStart;    // BeobXA
    double observerXEnd;      // BeobXE
    double observerYStart;    // BeobYA
    double observerYEnd;      // BeobYE
    double observerZStart;    // BeobZA
    double observerZEnd;      // BeobZE
    double headingStart;      // RichtungA, degrees
    double headingEnd;        // RichtungE
    double tiltStart;         // NeigungA, degrees
    double tiltEnd;           // NeigungE
    double focalLengthStart;  // BrennA
    double focalLengthEnd;    // BrennE
    double bankStart;         // VerkantenA, degrees
    double bankEnd;           // VerkantenE
    double zScaleStart;       // HDateiSkalaZA, world height per height count
    double zScaleEnd;         // HDateiSkalaZE
    double fogStart;          // NebelA
    double fogEnd;            // NebelE

    // Output.
    QString outputFileName;  // AusDateiname, printf-style pattern for the frame number
    bool writeTga;           // AusgabeTGA
    bool writePng;           // AusgabePNG (also AusgabeYUV)
    bool writeJpg;           // AusgabeJPG
    bool writePpm;           // AusgabePPM

    // Input images.
    bool useTextureFile;        // TDateiVerwenden (stored only)
    QString textureFileName;    // TDateiname
    double elevationScaleX;     // HDateiSkalaX, world units between height-map columns
    double elevationScaleY;     // HDateiSkalaY, world units between height-map rows
    QString elevationFileName;  // HDateiname
    bool useMaskFile;           // MDateiVerwenden (stored only)
    QString maskFileName;       // MaskenDateiName (stored only)

    int renderQuality;           // GenauRechnen: 0 nearest texel, 1 filtered, 2 filtered at double size
    int outputWidth;             // AusBreite
    int outputHeight;            // AusHoehe
    int gridResolutionXSetting;  // AusAuflX, terrain grid cells along x
    int gridResolutionYSetting;  // AusAuflY

    double heightAboveGround;  // HoeheUeberBoden (stored only)
    double lookAhead;          // Voraussicht (stored only)
    double bankFactor;         // VerkantenFaktor (stored only)
    bool flyStraight;          // negation of Rundflug
    bool recorder;             // Recorder (stored only)

    int frameCount;         // Bildanzahl, frames of the whole flight
    int frameNumberOffset;  // Offset, added to the frame index in file names
    int firstFrame;         // StartbildNr
    int lastFrame;          // EndbildNr, inclusive

    double lightX;   // LichtX
    double lightY;   // LichtY
    double lightZ;   // LichtZ
    double inertia;  // Traegheit

    bool useBackgroundColor;      // HintergrundVerwenden
    unsigned int backgroundArgb;  // Hintergrund, 0xAARRGGBB
};
