// The AVImport command line: options, usage text, messages and exit codes.
#pragma once

#include <QStringList>

class QTextStream;

// Runs AVImport with the arguments (the first one is the program name);
// everything it says goes to `messages`. Returns the exit code: 0 done (or
// usage shown), 1 bad arguments, 2 input error, 3 output error.
int runCommandLine(QStringList const& arguments, QTextStream& messages);

// The usage text shown by -h.
QString usageText();
