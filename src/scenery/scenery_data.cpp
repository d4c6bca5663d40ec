#include "scenery_data.h"

SceneryData::SceneryData() : QObject(nullptr) { clear(); }

SceneryData::SceneryData(SceneryData const& other)
    : QObject(nullptr),
      observerXStart(other.observerXStart),
      observerXEnd(other.observerXEnd),
      observerYStart(other.observerYStart),
      observerYEnd(other.observerYEnd),
      observerZStart(other.observerZStart),
      observerZEnd(other.observerZEnd),
      headingStart(other.headingStart),
      headingEnd(other.headingEnd),
      tiltStart(other.tiltStart),
      tiltEnd(other.tiltEnd),
      focalLengthStart(other.focalLengthStart),
      focalLengthEnd(other.focalLengthEnd),
      bankStart(other.bankStart),
      bankEnd(other.bankEnd),
      zScaleStart(other.zScaleStart),
      zScaleEnd(other.zScaleEnd),
      fogStart(other.fogStart),
      fogEnd(other.fogEnd),
      outputFileName(other.outputFileName),
      writeTga(other.writeTga),
      writePng(other.writePng),
      writeJpg(other.writeJpg),
      writePpm(other.writePpm),
      useTextureFile(other.useTextureFile),
      textureFileName(other.textureFileName),
      elevationScaleX(other.elevationScaleX),
      elevationScaleY(other.elevationScaleY),
      elevationFileName(other.elevationFileName),
      useMaskFile(other.useMaskFile),
      maskFileName(other.maskFileName),
      renderQuality(other.renderQuality),
      outputWidth(other.outputWidth),
      outputHeight(other.outputHeight),
      gridResolutionXSetting(other.gridResolutionXSetting),
      gridResolutionYSetting(other.gridResolutionYSetting),
      heightAboveGround(other.heightAboveGround),
      lookAhead(other.lookAhead),
      bankFactor(other.bankFactor),
      flyStraight(other.flyStraight),
      recorder(other.recorder),
      frameCount(other.frameCount),
      frameNumberOffset(other.frameNumberOffset),
      firstFrame(other.firstFrame),
      lastFrame(other.lastFrame),
      lightX(other.lightX),
      lightY(other.lightY),
      lightZ(other.lightZ),
      inertia(other.inertia),
      useBackgroundColor(other.useBackgroundColor),
      backgroundArgb(other.backgroundArgb) {}

SceneryData::~SceneryData() = default;

void SceneryData::clear() {
    observerXStart = 0.0;
    observerXEnd = 0.0;
    observerYStart = 0.0;
    observerYEnd = 0.0;
    observerZStart = 500.0;
    observerZEnd = 500.0;
    headingStart = 45.0;
    headingEnd = 45.0;
    tiltStart = -10.0;
    tiltEnd = -10.0;
    focalLengthStart = 1000.0;
    focalLengthEnd = 1000.0;
    bankStart = 0.0;
    bankEnd = 0.0;
    zScaleStart = 0.001;
    zScaleEnd = 0.001;
    fogStart = 100000.0;
    fogEnd = 100000.0;
    outputFileName.clear();
    writeTga = false;
    writePng = true;
    writeJpg = false;
    writePpm = false;
    useTextureFile = false;
    textureFileName.clear();
    elevationScaleX = 1.0;
    elevationScaleY = 1.0;
    elevationFileName.clear();
    useMaskFile = false;
    maskFileName.clear();
    renderQuality = 0;
    outputWidth = 640;
    outputHeight = 480;
    gridResolutionXSetting = 64;
    gridResolutionYSetting = 64;
    heightAboveGround = 100.0;
    lookAhead = 100.0;
    bankFactor = 0.0;
    flyStraight = true;
    recorder = false;
    frameCount = 1;
    frameNumberOffset = 0;
    firstFrame = 0;
    lastFrame = 0;
    lightX = -1.0;
    lightY = 1.0;
    lightZ = -1.0;
    inertia = 1.0;
    useBackgroundColor = false;
    backgroundArgb = 0xFF000000u;
}
