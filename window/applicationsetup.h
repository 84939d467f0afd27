#pragma once

class QApplication;

// What the application needs before its window is made: Qt's own texts
// (the boxes' buttons among them) in Simplified Chinese, like the window's,
// and the window presented to assistive technology as a top-level window.
void prepareApplication(QApplication &app);
