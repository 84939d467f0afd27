// Prints why the installer named first must not run, judged by its signature
// against the program named second, or nothing: tests/windows/authenticode.sh
// drives it.
#include "integrity/authenticode.h"

#include <QString>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fputs("usage: authenticode_problem INSTALLER RUNNING_PROGRAM\n", stderr);
        return 2;
    }
    const auto problem = Authenticode::installerSignatureProblem(QString::fromLocal8Bit(argv[1]),
                                                                 QString::fromLocal8Bit(argv[2]));
    if (problem)
        std::fputs(Authenticode::describe(*problem).toUtf8().constData(), stdout);
    return 0;
}
