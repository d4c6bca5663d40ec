#include "qtga_plugin.h"

#include "qtga_handler.h"

QImageIOPlugin::Capabilities QTgaPlugin::capabilities(QIODevice* device, QByteArray const& format) const {
    if (format == "tga") {
        return CanRead | CanWrite;
    }
    if (!format.isEmpty()) {
        return {};
    }
    // No format name: the image system asks whether we accept an open device as it is.
    if (device == nullptr || !device->isOpen()) {
        return {};
    }
    Capabilities result;
    if (device->isReadable() && QTgaHandler::canRead(device)) {
        result |= CanRead;
    }
    if (device->isWritable()) {
        result |= CanWrite;
    }
    return result;
}

QImageIOHandler* QTgaPlugin::create(QIODevice* device, QByteArray const& format) const {
    auto* handler = new QTgaHandler;
    handler->setDevice(device);
    handler->setFormat(format);
    return handler;
}
