#pragma once

#include <QStringList>

class Console;

// `nv38k-publish tool-release …`: its arguments, the program's name first.
int toolReleaseCommand(const QStringList &arguments, Console &console);
