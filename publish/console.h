#pragma once

#include <QTextStream>

class QCommandLineParser;

// nv38k-publish's exit codes; the --help text lists them.
enum class ExitCode {
    Done = 0,
    WindowFails = 1,
    Usage = 2,
    Refused = 3,
    FileError = 4,
    ReadBackDiffers = 5,
};

// Results go to standard output; errors and warnings to standard error.
class Console
{
public:
    Console();

    QTextStream out;

    void warn(const QString &message);
    void error(const QString &message);
    // Says what went wrong and returns `code` for main() to exit with.
    int fail(ExitCode code, const QString &message);
    // Hands everything written so far to the operating system.
    void flush();

private:
    QTextStream m_err;
};

// Parses a command's own arguments with `parser`, which knows the command's
// options; shows its help and leaves when asked. Returns false on a usage
// error, which it has reported.
bool parseCommandLine(QCommandLineParser &parser, const QStringList &arguments, Console &console);
