#include "testkit/messageboxcatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>

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
        QStringList texts;
        QAbstractButton *answer = box->button(QMessageBox::Ok);
        for (QAbstractButton *button : box->buttons()) {
            if (box->standardButton(button) == QMessageBox::NoButton)
                texts << button->text();
            if (!m_answer.isEmpty() && button->text() == m_answer)
                answer = button;
        }
        m_boxes.append({box->icon(), box->windowTitle(), box->text(), box->standardButtons(),
                        box->parentWidget(), texts,
                        box->checkBox() ? box->checkBox()->text() : QString(), box->textFormat()});
        if (box->checkBox() && m_tickCheckBox)
            box->checkBox()->setChecked(true);
        if (answer)
            answer->click();
        else
            box->reject();
    }
}
