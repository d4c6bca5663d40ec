// Reading an image file, as QImage's file constructor reads it.
#pragma once

#include <QImage>
#include <QString>

// The image in the file (format null: detected), or a null image when it
// cannot be read. The same image QImage(fileName, format) gives; a 32-bit
// image is decoded into pixels on huge pages (see imageForHugePages).
// A plain 8-bit RGB PNG file is decoded by readPlainPng, any other file by
// Qt's reader; may be called on several threads at once.
QImage readImageFile(QString const& fileName, char const* format);

// An image of the given size and format whose pixels come from
// allocateForHugePages, for a large image that is written whole right away
// (a decoded file, a frame buffer); QImage(width, height, format) for one
// under 2 MiB or when it cannot be made so.
QImage imageForHugePages(int width, int height, QImage::Format format);
