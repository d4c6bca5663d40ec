#include "user_settings.h"

#include <QSettings>
#include <QVariant>

int readUserSetting(QString const& key, int fallback) {
    int value = fallback;
    {
        QSettings settings(QStringLiteral("Altivero"), QString());
        value = settings.value(QStringLiteral("Settings/") + key, fallback).toInt();
    }
    // The settings store leaves the upper halves of the AVX registers dirty,
    // after which every SSE instruction of the renderer and of the maths
    // library pays a transition penalty (exp() became twenty times slower).
    // vzeroupper clears them and changes no value.
#if defined(__x86_64__) && defined(__GNUC__)
    if (__builtin_cpu_supports("avx"))
        asm volatile("vzeroupper" ::: "memory");
#endif
    return value;
}
