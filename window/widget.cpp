#include "window/widget.h"
#include "ui_widget.h"

#include "device/dfulisting.h"
#include "device/unreachablekeyboard.h"
#include "download/firmwaredownload.h"
#include "encoding/gbk.h"
#include "server/firmwareserver.h"
#include "server/versioninfo.h"
#include "storage/firmwarestore.h"
#include "verdicts/windowboxes.h"

#include <QDebug>
#include <QFile>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <utility>

namespace {

// Bytes pending on one of a process's channels. A process that never ran has
// none, and asking its closed device would only add a Qt warning to the log.
QByteArray pendingBytes(QProcess *process, QByteArray (QProcess::*read)())
{
    return process->isOpen() ? (process->*read)() : QByteArray();
}

void showBox(QWidget *parent, const WindowBox &box)
{
    switch (box.kind) {
    case WindowBox::Kind::Information:
        QMessageBox::information(parent, box.title, box.text);
        return;
    case WindowBox::Kind::Warning:
        QMessageBox::warning(parent, box.title, box.text);
        return;
    case WindowBox::Kind::Critical:
        QMessageBox::critical(parent, box.title, box.text);
        return;
    }
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

    // The signatures stay in Qt's normalised form.
    // clang-format off
    connect(firmwareManager, SIGNAL(finished(QNetworkReply*)), this, SLOT(FinishedGetFirmware(QNetworkReply*)));
    connect(infoManager, SIGNAL(finished(QNetworkReply*)), this, SLOT(finishedSlot(QNetworkReply*)));
    connect(listProcess, SIGNAL(finished(int)), this, SLOT(readResult(int)));
    connect(listProcess, SIGNAL(started()), this, SLOT(ProcStart()));
    connect(listProcess, SIGNAL(error(QProcess::ProcessError)), this, SLOT(ProcError(QProcess::ProcessError)));
    // clang-format on
    // dfu-util's warnings, taken as they come so that a flood cannot fill memory.
    connect(listProcess, &QProcess::readyReadStandardError, this, [this] {
        const QByteArray more = listProcess->readAllStandardError();
        listErrors.append(more.left(DfuListing::maxStandardErrorBytes - listErrors.size()));
    });
}

Widget::~Widget()
{
    delete ui;
}

void Widget::on_btnUpdate_clicked()
{
    if (firmwareUrl.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("警告"),
                             QStringLiteral("请先获取固件信息后再试"));
        return;
    }
    qDebug() << DfuListing::program();
    listProcess->start(DfuListing::program(), DfuListing::arguments(), QIODevice::ReadWrite);
}

void Widget::readResult(int exitCode)
{
    const QByteArray errorBytes = std::exchange(listErrors, QByteArray());
    // dfu-util explains its own failures; a failed listing is not worth a box.
    if (exitCode != 0)
        return;

    const std::optional<QString> listing = decodeGbk(listProcess->readAllStandardOutput());
    if (!listing) {
        showBox(this, WindowBoxes::noGbkCodec());
        return;
    }
    qDebug() << *listing;
    const QString errors = decodeGbkForLog(errorBytes);
    if (!errors.isEmpty())
        qDebug() << errors;

    switch (DfuListing::judge(*listing)) {
    case DfuListing::Verdict::NoDevice:
        // Attached, but dfu-util could not open it: a missing driver or
        // permission, not the cable.
        if (const std::optional<QString> error = DfuListing::keyboardOpenError(errors)) {
            using namespace UnreachableKeyboard;
            showBox(this, box(currentPlatform(), *error, boundDriver()));
            qDebug().noquote() << "Device Not Accessible" << *error;
            return;
        }
        QMessageBox::warning(this, QStringLiteral("未检测到设备"),
                             QStringLiteral("未检测到可升级的设备,请检查设备是否正确连接。"));
        qDebug() << "None Device Found";
        return;
    case DfuListing::Verdict::ForeignDevice:
        QMessageBox::warning(
            this, QStringLiteral("未检测到设备"),
            QStringLiteral("未查找到相应设备，请检查设备是否与升级工具软件匹配。"));
        return;
    case DfuListing::Verdict::DevicePresent:
        break;
    }

    qDebug() << firmwareUrl;
    new FirmwareDownload(firmwareManager, firmwareUrl, firmwareModel, firmwareVersion);
}

void Widget::ProcStart()
{
    qDebug() << "Proc Start";
}

void Widget::ProcError(QProcess::ProcessError)
{
    qDebug() << "error";
    QMessageBox::critical(this, QStringLiteral("错误"), QStringLiteral("升级工具损坏，请重新安装"));
}

void Widget::RecError(QProcess::ProcessError error)
{
    qDebug() << error;
}

void Widget::finishedSlot(QNetworkReply *reply)
{
    // Released once this handler is done with it, whichever way it leaves.
    reply->deleteLater();
    if (FirmwareServer::informationReplyFailed(*reply)) {
        showBox(this, WindowBoxes::informationReplyFailed());
        return;
    }

    const VersionInfo info = parseVersionInfo(reply->readAll());
    const WindowBoxes::InformationView view = WindowBoxes::forInformation(info);
    if (view.showsModel)
        ui->lblDeviceType->setText(info.deviceModel);
    if (view.box) {
        showBox(this, *view.box);
        return;
    }

    ui->lblFirmwareVersion->setText(info.version);
    firmwareUrl = FirmwareServer::firmwareUrl(info.deviceModel, info.version);
    firmwareModel = info.deviceModel;
    firmwareVersion = info.version;
    ui->lblFirmwareDesc->setText(info.notes);
}

void Widget::FinishedGetFirmware(QNetworkReply *reply)
{
    // Released once this handler is done with it, whichever way it leaves.
    reply->deleteLater();
    FirmwareDownload *download = FirmwareDownload::of(*reply);
    const std::optional<FirmwareDownload::Outcome> outcome =
        download ? download->finished(reply) : std::nullopt;
    if (!outcome)
        return;

    using Kind = FirmwareDownload::Outcome::Kind;
    const bool received =
        outcome->kind != Kind::DownloadFailed && outcome->kind != Kind::SignatureRefused;
    if (received) {
        delete firmwareFile;
        firmwareFile = new QFile(FirmwareStore::filePath(), this);
    }
    switch (outcome->kind) {
    case Kind::DownloadFailed:
        showBox(this, WindowBoxes::firmwareDownloadFailed(outcome->failure));
        return;
    case Kind::SignatureRefused:
        showBox(this, WindowBoxes::firmwareSignatureFailed(outcome->verdict));
        return;
    case Kind::OpenFailed:
        QMessageBox::information(nullptr, tr("File"), tr("File Open Failed."));
        return;
    case Kind::WriteFailed:
        QMessageBox::information(nullptr, tr("File"), tr("File Write Failed."));
        return;
    case Kind::Stored:
        break;
    }
    listProcess->close();
    qDebug() << "SaveFileSuccess" << outcome->size;
    QMessageBox::information(this, QStringLiteral("成功"),
                             QStringLiteral("下载固件成功,请使用升级工具进行升级。"));
}

void Widget::on_btnGetFirmWare_clicked()
{
    infoUrl.clear();
    infoUrl.append(FirmwareServer::baseUrl());
    infoUrl.append(FirmwareServer::infoFileName());
    FirmwareServer::limitBodySize(infoManager->get(FirmwareServer::request(infoUrl)),
                                  FirmwareServer::maxInfoBytes);
}

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
