// Translation of the render run's messages written outside SceneryDelegate's
// own members, in its context, so that one catalogue covers every message.
#pragma once

#include <QCoreApplication>
#include <QString>

namespace scenery {

inline QString tr(char const* text) { return QCoreApplication::translate("SceneryDelegate", text); }

}  // namespace scenery
