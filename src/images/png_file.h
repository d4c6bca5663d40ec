// Decoding the most common kind of PNG file without Qt's reader.
//
// Textures and height maps are mostly large 8-bit RGB PNG files, and
// decoding them is most of a short run's start-up: Qt's reader inflates
// through zlib, row by row. This decoder inflates the whole image at once
// (libdeflate, about twice zlib's speed) straight into the pixels of the
// image it returns, and needs none of Qt's format plug-ins.
#pragma once

#include <QImage>
#include <QString>

// Whether the file is named and starts like one readPlainPng takes: a ".png"
// name, the PNG signature and a header of 8-bit RGB pixels, not interlaced.
bool looksLikePlainPng(QString const& fileName);

// The image in `fileName` when the file looks like a plain PNG (above), all
// its chunks are ones that cannot change its pixels (header, data, end, text,
// time and pixel size), its checksums hold and its data fill the image
// exactly: the same pixels in the same format (RGB32) as Qt's reader gives.
// Its text and pixel size are not carried over. A null image for any other
// file, for a file over 32 MiB (it is held whole while decoding) and for an
// image of more than `byteLimit` bytes (0: no limit); those are left to Qt's
// reader, which decides about every other kind of file and every damaged one.
QImage readPlainPng(QString const& fileName, qint64 byteLimit);
