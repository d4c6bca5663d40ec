// Start-up shared by the fuzz targets.
#pragma once

#include <QString>

namespace fuzzsupport {

// Call from LLVMFuzzerInitialize: creates a private scratch folder, points
// HOME and XDG_CONFIG_HOME into it (so nothing touches the user's settings),
// silences Qt's messages and creates the application object once.
void initialise();

// The private scratch folder of this process; removed at a normal exit.
QString scratchDir();

}  // namespace fuzzsupport
