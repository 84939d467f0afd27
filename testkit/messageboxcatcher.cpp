#include "testkit/messageboxcatcher.h"

#include <QAbstractButton>
#include <QApplication>

MessageBoxCatcher::MessageBoxCatcher(QObject *parent)
    : QObject(parent)
{
    // A timer keeps firing inside the box's own event loop, which is where
    // the code under test is waiting.
    connect(&m_poll, &QTimer::timeout, this, &MessageBoxCatcher::closeVisibleBoxes);
    m_poll.start(5);
}

void MessageBoxCatcher::closeVisibleBoxes()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        auto *box = qobject_cast<QMessageBox *>(window);
        if (!box || !box->isVisible())
            continue;
        m_boxes.append({box->icon(), box->windowTitle(), box->text(), box->standardButtons(),
                        box->parentWidget()});
        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    }
}
