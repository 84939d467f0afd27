#include "console.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

Console::Console()
    : out(stdout)
    , m_err(stderr)
{ }

void Console::warn(const QString &message)
{
    error(QStringLiteral("warning: ") + message);
}

void Console::error(const QString &message)
{
    out.flush();
    m_err << QCoreApplication::applicationName() << ": " << message << Qt::endl;
}

int Console::fail(ExitCode code, const QString &message)
{
    error(message);
    return int(code);
}

void Console::flush()
{
    out.flush();
    m_err.flush();
    std::fflush(stdout);
    std::fflush(stderr);
}

bool parseCommandLine(QCommandLineParser &parser, const QStringList &arguments, Console &console)
{
    const QCommandLineOption help = parser.addHelpOption();
    if (!parser.parse(arguments)) {
        console.fail(ExitCode::Usage, parser.errorText() + QStringLiteral(" (see --help)"));
        return false;
    }
    if (parser.isSet(help))
        parser.showHelp(int(ExitCode::Done));
    return true;
}
