// The program's two user settings, in the settings store of organization
// "Altivero" (no application name), under "Settings/".
#pragma once

#include <QString>

// The integer value of "Settings/<key>", or `fallback` when it is absent.
int readUserSetting(QString const& key, int fallback);
