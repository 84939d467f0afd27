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
// for the owner's choice. "查看详情" opens the advisory's address in the
// owner's browser and leaves the box open; Esc, like closing it, is the
// offer's dismissal.
UpdateAnswer askAboutUpdate(QWidget *window, const Decisions::UpdateOffer &offer);
