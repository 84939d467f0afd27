#include "window/updatebox.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

UpdateAnswer askAboutUpdate(QWidget *window, const Decisions::UpdateOffer &offer)
{
    const UpdateBox &update = offer.box;
    const bool warning = update.box.kind == WindowBox::Kind::Warning;
    QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::Information, update.box.title,
                    update.box.text, QMessageBox::NoButton, window);
    // The advisory is the server's words: shown as sent, never as markup.
    box.setTextFormat(Qt::PlainText);
    QPushButton *install = update.installButton.isEmpty()
                               ? nullptr
                               : box.addButton(update.installButton, QMessageBox::AcceptRole);
    QPushButton *details = update.detailsButton.isEmpty()
                               ? nullptr
                               : box.addButton(update.detailsButton, QMessageBox::ActionRole);
    QPushButton *dismiss = box.addButton(update.dismissButton, QMessageBox::RejectRole);
    box.setDefaultButton(install ? install : dismiss);
    box.setEscapeButton(dismiss);
    auto *stopChecking = new QCheckBox(update.stopCheckingText, &box);
    box.setCheckBox(stopChecking);
    // A message box closes on any of its buttons; the details keep it open.
    for (box.exec(); details && box.clickedButton() == details; box.exec())
        QDesktopServices::openUrl(QUrl(offer.release.advisoryUrl));

    const bool installNow = install && box.clickedButton() == install;
    return {installNow ? Decisions::UpdateChoice::InstallNow : offer.dismissal,
            stopChecking->isChecked()};
}
