#pragma once

#include <QStringList>

class Console;

// `nv38k-publish check …`: its arguments, the program's name first.
int checkCommand(const QStringList &arguments, Console &console);
