// nv38k-publish: the other side of the window's wire. `release` writes the
// firmware server's two files so that the window reads them as meant;
// `check` reads a server, or a folder, exactly as the window does.
#include "check.h"
#include "console.h"
#include "keygen.h"
#include "release.h"
#include "toolreleasecommand.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#define NV38K_LEAK_CHECK
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NV38K_LEAK_CHECK
#endif
#endif
#ifdef NV38K_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace {

int run(Console &console)
{
    // Everything after the command is the command's own, so that
    // "release --version 1.6" is not taken for this program's --version.
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.setApplicationDescription(QStringLiteral(
        "Publishes NV38K firmware releases for the upgrade tool's window and checks them.\n"
        "\n"
        "Commands (nv38k-publish COMMAND --help tells more):\n"
        "  release --model M --version V --notes FILE --firmware FILE --out DIR\n"
        "          [--signing-key KEY]\n"
        "      Writes Version.txt and the firmware into the server's folder DIR,\n"
        "      and with a key the firmware's signature.\n"
        "  check [URL|DIR] [--ca FILE] [--public-key FILE] [--tool-release-key FILE]\n"
        "      Shows what the window makes of a server's, or a folder's, files.\n"
        "  tool-release --version V [--security] --advisory TEXT [--advisory-url URL]\n"
        "          --installer FILE --out DIR [--signing-key TOOL_RELEASE_KEY]\n"
        "      Announces a new release of the tool itself beside Version.txt.\n"
        "  keygen [--tool-release] --out DIR\n"
        "      Makes a key pair for signing firmware, or the tool's releases.\n"
        "\n"
        "Exit codes:\n"
        "  0  done (check: the window shows the information and gets the firmware)\n"
        "  1  check: the window would report a failure, a bad signature included, or\n"
        "     pass over the server's ToolRelease.txt\n"
        "  2  the command line is wrong\n"
        "  3  release, tool-release: refused, the input would not work in the window, or\n"
        "     the signing key is not an Ed25519 key; nothing written\n"
        "  4  a file could not be read or written\n"
        "  5  release, tool-release: the written files do not read back as meant"));
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("release, tool-release, check or keygen"),
                                 QStringLiteral("command [options]"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    if (!parser.parse(QCoreApplication::arguments()))
        return console.fail(ExitCode::Usage, parser.errorText() + QStringLiteral(" (see --help)"));
    if (parser.isSet(version))
        parser.showVersion();
    if (parser.isSet(help))
        parser.showHelp(int(ExitCode::Done));

    const QStringList arguments =
        QCoreApplication::arguments().mid(0, 1) + parser.positionalArguments();
    const QString command = parser.positionalArguments().value(0);
    if (command == QLatin1String("release"))
        return releaseCommand(arguments, console);
    if (command == QLatin1String("tool-release"))
        return toolReleaseCommand(arguments, console);
    if (command == QLatin1String("check"))
        return checkCommand(arguments, console);
    if (command == QLatin1String("keygen"))
        return keygenCommand(arguments, console);
    return console.fail(ExitCode::Usage,
                        command.isEmpty()
                            ? QStringLiteral("no command given (see --help)")
                            : QStringLiteral("no command \"%1\" (see --help)").arg(command));
}

} // namespace

int main(int argc, char *argv[])
{
    // A check must be as quick as curl fetching the same two files. No plugin
    // is of use here, yet Qt 5's bearer plugins alone would take a third of
    // that time, and Qt's own event loop costs less than GLib's.
    QCoreApplication::setLibraryPaths({});
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nv38k-publish"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NV38K_VERSION));
    Console console;
    const int code = run(console);

    // Once all is said and written, the clean-up at exit only costs time: Qt
    // joining its threads and OpenSSL freeing its tables add a few per cent
    // to a check. Leak checkers still look first.
    console.flush();
#ifdef NV38K_LEAK_CHECK
    __lsan_do_leak_check();
#endif
    std::_Exit(code);
}
