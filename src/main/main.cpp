// AVRender: reads a scenery file and renders its flight into numbered frame files.
#include "scenery_delegate.h"

#include <QCoreApplication>
#include <QImageReader>
#include <QObject>
#include <QString>
#include <QTextStream>

#include <getopt.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>

namespace {

QString const programNameAndVersion = QStringLiteral("AVRender V1.0");

option const long_options[] = {
    {"input-file", 1, nullptr, 'i'},
    {"verbose", 0, nullptr, 'v'},
    {"help", 0, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

enum ExitCode { Success = 0, InvalidOption = 1, NonOptionArguments = 2, CannotOpen = 3, CannotRender = 4 };

void Usage(QTextStream& stream) {
    stream << "\n"
           << programNameAndVersion << "\n"
           << "\n"
           << "This program reads a Altivero scenery file and renders one or more image files.\n"
           << "The scenery file is created by the AVScenery program.\n"
           << "\n"
           << "Usage:\n"
           << "\n"
           << "AVRender -i scenery-file [-v]\n"
           << "AVRender [-h | -?]\n"
           << "\n"
           << "\n"
           << "Options:\n"
           << "\n"
           << "-i    --input-file     name of the scenery file (.avs).\n"
           << "-v    --verbose        verbose output\n"
           << "-h|-? --help           help\n";
}

// The short option string that getopt_long needs, derived from the table.
QByteArray shortOptions(QTextStream& log) {
    QByteArray result;
    for (int row = 0;; ++row) {
        option const& entry = long_options[row];
        if (entry.val == 0)
            break;
        result.append(static_cast<char>(entry.val));
        if (entry.has_arg == 1)
            result.append(':');
        else if (entry.has_arg == 2)
            result.append("::");
        else if (entry.has_arg != 0)
            log << QObject::tr("Error: long_options[%1].has_arg has an illegal value: %2")
                       .arg(row)
                       .arg(entry.has_arg);
    }
    return result;
}

// Real height maps and textures are far larger than the image system's default
// allocation limit allows; let an image take up to half of the machine's memory,
// so that a file that is too large still fails cleanly instead of exhausting it.
void raiseImageAllocationLimit() {
    long const pages = sysconf(_SC_PHYS_PAGES);
    long const pageSize = sysconf(_SC_PAGE_SIZE);
    long long const halfMemoryMiB =
        pages > 0 && pageSize > 0 ? static_cast<long long>(pages) * pageSize / 2 / (1024 * 1024) : 4096;
    QImageReader::setAllocationLimit(static_cast<int>(std::clamp(halfMemoryMiB, 256LL, static_cast<long long>(INT_MAX))));
}

}  // namespace

int main(int argc, char** argv) {
    QString inputFileName = QStringLiteral("-");
    QTextStream log(stderr, QIODevice::ReadWrite);

    QByteArray const options = shortOptions(log);
    opterr = 0;
    bool verbose = false;

    for (;;) {
        int index = 0;
        int const c = getopt_long(argc, argv, options.constData(), long_options, &index);
        if (c == -1)
            break;
        switch (c) {
            case 'i':
                inputFileName = QString::fromLatin1(optarg);
                break;
            case 'v':
                verbose = true;
                break;
            case 'h':
            case '?':
                Usage(log);
                log.flush();
                return Success;
            default:
                log << "Invalid option.\n";
                Usage(log);
                return InvalidOption;
        }
    }

    if (optind < argc) {
        log << QObject::tr("Error: Non-option ARGV elements.\n");
        while (optind < argc)
            log << argv[optind++] << " ";
        log << "\n";
        Usage(log);
        return NonOptionArguments;
    }

    QCoreApplication application(argc, argv);
    raiseImageAllocationLimit();
    SceneryDelegate delegate(log, verbose);

    if (!delegate.open(inputFileName)) {
        log << QStringLiteral("Error: Cannot open file \"%1\": %2.\n").arg(inputFileName, delegate.errorString());
        return CannotOpen;
    }
    if (!delegate.renderFinal()) {
        log << QStringLiteral("Error: Cannot render file \"%1\": %2.\n").arg(inputFileName, delegate.renderErrorString());
        return CannotRender;
    }
    return Success;
}
