// Reading an image file, as QImage's file constructor reads it.
#pragma once

#include <QImage>
#include <QString>

// The image in the file (format null: detected), or a null image when it
// cannot be read. The same image QImage(fileName, format) gives; a 32-bit
// image is decoded into pixels that prefer huge pages (see preferHugePages).
QImage readImageFile(QString const& fileName, char const* format);
