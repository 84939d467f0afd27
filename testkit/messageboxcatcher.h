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
};

// Watches for modal message boxes, records each one and closes it with its
// OK button, so that code which shows boxes synchronously runs on unattended.
class MessageBoxCatcher : public QObject
{
    Q_OBJECT

public:
    explicit MessageBoxCatcher(QObject *parent = nullptr);

    const QList<CaughtBox> &boxes() const { return m_boxes; }
    void clear() { m_boxes.clear(); }

private:
    void closeVisibleBoxes();

    QTimer m_poll;
    QList<CaughtBox> m_boxes;
};
