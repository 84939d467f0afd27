#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>

// What a message box showed before the catcher closed it.
struct CaughtBox
{
    QMessageBox::Icon icon;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    QPointer<QWidget> parent;
    QStringList buttonTexts; // the buttons' texts where none is a standard one
    QString checkBoxText;
    Qt::TextFormat textFormat;
};

// Watches for modal message boxes, records each one and closes it with its
// OK button (or the one answerWith() names, else Esc), so that code which
// shows boxes synchronously runs on unattended.
class MessageBoxCatcher : public QObject
{
    Q_OBJECT

public:
    explicit MessageBoxCatcher(QObject *parent = nullptr);

    const QList<CaughtBox> &boxes() const { return m_boxes; }
    void clear() { m_boxes.clear(); }
    // Later boxes are left with the button `text` where they have one, their
    // checkbox ticked first when `tickCheckBox`.
    void answerWith(const QString &text, bool tickCheckBox)
    {
        m_answer = text;
        m_tickCheckBox = tickCheckBox;
    }

private:
    void closeVisibleBoxes();

    QTimer m_poll;
    QList<CaughtBox> m_boxes;
    QString m_answer;
    bool m_tickCheckBox = false;
};
