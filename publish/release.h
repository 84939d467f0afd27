#pragma once

#include <QStringList>

class Console;

// `nv38k-publish release …`: its arguments, the program's name first.
int releaseCommand(const QStringList &arguments, Console &console);
