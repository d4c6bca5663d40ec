// The one failure type of the import: a message for the user and the exit
// code the program ends with.
#pragma once

#include <QString>

#include <stdexcept>

enum class ExitCode { Success = 0, BadArguments = 1, InputError = 2, OutputError = 3 };

class ImportError : public std::runtime_error {
  public:
    ImportError(ExitCode code, QString const& message)
        : std::runtime_error(message.toStdString()), code_(code), message_(message) {}

    ExitCode code() const { return code_; }
    QString const& message() const { return message_; }

  private:
    ExitCode code_;
    QString message_;
};

// A file or folder name as messages show it: between double quotes.
inline QString quoted(QString const& name) { return QLatin1Char('"') + name + QLatin1Char('"'); }

inline ImportError argumentError(QString const& message) { return {ExitCode::BadArguments, message}; }
inline ImportError inputError(QString const& message) { return {ExitCode::InputError, message}; }
inline ImportError outputError(QString const& message) { return {ExitCode::OutputError, message}; }
