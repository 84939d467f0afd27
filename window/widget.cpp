#include "window/widget.h"
#include "ui_widget.h"

#include "firmware_info/gbk.h"

#include <QDebug>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace {

// Bytes pending on one of a process's channels. A process that never ran has
// none, and asking its closed device would only add a Qt warning to the log.
QByteArray pendingBytes(QProcess *process, QByteArray (QProcess::*read)())
{
    return process->isOpen() ? (process->*read)() : QByteArray();
}

} // namespace

Widget::Widget(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::Widget)
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("NV38K") + QStringLiteral("升级工具V1.5"));

    listProcess = new QProcess(this);
    updateProcess = new QProcess(this);
    infoManager = new QNetworkAccessManager(this);
    firmwareManager = new QNetworkAccessManager(this);

    connect(firmwareManager, SIGNAL(finished(QNetworkReply *)), this,
        SLOT(FinishedGetFirmware(QNetworkReply *)));
    connect(
        infoManager, SIGNAL(finished(QNetworkReply *)), this, SLOT(finishedSlot(QNetworkReply *)));
    connect(listProcess, SIGNAL(finished(int)), this, SLOT(readResult(int)));
    connect(listProcess, SIGNAL(started()), this, SLOT(ProcStart()));
    connect(listProcess, SIGNAL(error(QProcess::ProcessError)), this,
        SLOT(ProcError(QProcess::ProcessError)));
}

Widget::~Widget()
{
    delete ui;
}

void Widget::on_btnUpdate_clicked() { }

void Widget::readResult(int) { }

void Widget::ProcStart() { }

void Widget::ProcError(QProcess::ProcessError) { }

void Widget::RecError(QProcess::ProcessError error)
{
    qDebug() << error;
}

void Widget::finishedSlot(QNetworkReply *) { }

void Widget::FinishedGetFirmware(QNetworkReply *) { }

void Widget::on_btnGetFirmWare_clicked() { }

void Widget::UpdateProcError(QProcess::ProcessError error)
{
    qDebug() << error;
}

void Widget::UpdateProcStanardError()
{
    qDebug() << decodeGbkForLog(pendingBytes(updateProcess, &QProcess::readAllStandardError));
}

void Widget::UpdateProcStandardOutput()
{
    qDebug() << decodeGbkForLog(pendingBytes(updateProcess, &QProcess::readAllStandardOutput));
}

void Widget::UpdateProcFinish()
{
    qDebug() << decodeGbkForLog(pendingBytes(updateProcess, &QProcess::readAll));
}

void Widget::UpdateProcStart()
{
    qDebug() << "UpdateProc Start";
}

void Widget::UpdateStateChange(QProcess::ProcessState state)
{
    qDebug() << state;
}
