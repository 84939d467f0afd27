#pragma once

class QApplication;
class QString;
class QWidget;

// What the application needs before its window is made: Qt's own texts
// (the boxes' buttons among them) in Simplified Chinese, like the window's,
// and the window presented to assistive technology as a top-level window.
void prepareApplication(QApplication &app);

// Gives the application the icon at `iconPath` once `window`, shown, has drawn its first
// frame: reading the picture then delays nothing the owner waits for, and
// the window manager takes the icon a moment later.
void setIconAfterFirstFrame(QApplication &app, QWidget &window, const QString &iconPath);
