#include "window/updatebox.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>

UpdateAnswer askAboutUpdate(QWidget *window, const UpdateBox &update)
{
    const bool warning = update.box.kind == WindowBox::Kind::Warning;
    QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::Information, update.box.title,
                    update.box.text, QMessageBox::NoButton, window);
    QPushButton *install = update.installButton.isEmpty()
                               ? nullptr
                               : box.addButton(update.installButton, QMessageBox::AcceptRole);
    QPushButton *close = update.closeButton.isEmpty()
                             ? nullptr
                             : box.addButton(update.closeButton, QMessageBox::AcceptRole);
    QPushButton *later = box.addButton(update.laterButton, QMessageBox::RejectRole);
    box.setDefaultButton(install ? install : close);
    box.setEscapeButton(later);
    auto *stopChecking = new QCheckBox(update.stopCheckingText, &box);
    box.setCheckBox(stopChecking);
    box.exec();

    Decisions::UpdateChoice choice = Decisions::UpdateChoice::Later;
    if (install && box.clickedButton() == install)
        choice = Decisions::UpdateChoice::InstallNow;
    else if (close && box.clickedButton() == close)
        choice = Decisions::UpdateChoice::Closed;
    return {choice, stopChecking->isChecked()};
}
