// Image-format plug-in that hands ".tga" files to QTgaHandler.
#pragma once

#include <QImageIOPlugin>

class QTgaPlugin : public QImageIOPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "tga.json")

  public:
    Capabilities capabilities(QIODevice* device, QByteArray const& format) const override;
    QImageIOHandler* create(QIODevice* device, QByteArray const& format = QByteArray()) const override;
};
