#pragma once

#include <QStringList>

class Console;

// `nv38k-publish keygen …`: its arguments, the program's name first.
int keygenCommand(const QStringList &arguments, Console &console);
