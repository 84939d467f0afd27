#pragma once

#include "decisions/windowdecisions.h"

class QWidget;

// How the owner left the update box.
struct UpdateAnswer
{
    Decisions::UpdateChoice choice;
    bool stopChecking;
};

// Shows the box that offers a newer tool release over `window` and waits
// for the owner's choice. Esc, like closing it, is "稍后提醒".
UpdateAnswer askAboutUpdate(QWidget *window, const UpdateBox &update);
