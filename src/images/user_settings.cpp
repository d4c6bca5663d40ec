#include "user_settings.h"

#include "geometry.h"

#include <QSettings>
#include <QVariant>

int readUserSetting(QString const& key, int fallback) {
    int value = fallback;
    {
        QSettings settings(QStringLiteral("Altivero"), QString());
        value = settings.value(QStringLiteral("Settings/") + key, fallback).toInt();
    }
    // The settings store leaves the AVX upper state dirty, which would slow
    // every later SSE instruction, exp() above all, many times over.
    clearUpperVectorState();
    return value;
}
