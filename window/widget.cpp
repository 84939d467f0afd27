#include "window/widget.h"
#include "ui_widget.h"

#include "decisions/windowdecisions.h"
#include "device/dfulisting.h"
#include "download/firmwaredownload.h"
#include "encoding/gbk.h"
#include "requests/serverrequests.h"
#include "server/firmwareserver.h"
#include "storage/firmwarestore.h"
#include "toolupdate/toolupdater.h"
#include "usertexts/usertexts.h"
#include "window/labeltext.h"
#include "window/updatebox.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProgressDialog>
#include <utility>

namespace {

// Bytes pending on one of a process's channels. A process that never ran has
// none, and asking its closed device would only add a Qt warning to the log.
QByteArray pendingBytes(QProcess *process, QByteArray (QProcess::*read)())
{
    return process->isOpen() ? (process->*read)() : QByteArray();
}

void showBox(QWidget *window, const WindowBox &box)
{
    QMessageBox::Icon icon = QMessageBox::Critical;
    switch (box.kind) {
    case WindowBox::Kind::Information:
        icon = QMessageBox::Information;
        break;
    case WindowBox::Kind::Warning:
        icon = QMessageBox::Warning;
        break;
    case WindowBox::Kind::Critical:
        break;
    }
    // As QMessageBox::information() and its kin show a box, but for the text:
    // a box may carry what a server said, which must read as it was sent and
    // never act as markup (a picture loaded from a share, a link).
    QMessageBox message(icon, box.title, box.text, QMessageBox::NoButton,
                        box.parented ? window : nullptr);
    message.setTextFormat(Qt::PlainText);
    message.setDefaultButton(message.addButton(QMessageBox::Ok));
    message.exec();
}

void writeLog(const QStringList &lines)
{
    for (const QString &line : lines)
        qDebug().noquote() << line;
}

// Return and Enter press the focused button, as Space does and as Windows
// users expect; outside a dialog Qt's buttons take only Space.
class ReturnPressesButton : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *button = qobject_cast<QAbstractButton *>(watched);
        if (!button || event->type() != QEvent::KeyPress)
            return false;
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter)
            return false;
        button->animateClick();
        return true;
    }
};

void carryOut(QWidget *window, const Decisions::Reaction &reaction)
{
    writeLog(reaction.log);
    if (reaction.box)
        showBox(window, *reaction.box);
    writeLog(reaction.logAfterBox);
}

} // namespace

Widget::Widget(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::Widget)
{
    ui->setupUi(this);
    setWindowTitle(UserTexts::windowTitle());
    // The first thing to do, where keyboard users start.
    ui->btnGetFirmWare->setFocus();
    auto *returnPresses = new ReturnPressesButton(this);
    ui->btnGetFirmWare->installEventFilter(returnPresses);
    ui->btnUpdate->installEventFilter(returnPresses);

    listProcess = new QProcess(this);
    updateProcess = new QProcess(this);
    infoManager = new QNetworkAccessManager(this);
    firmwareManager = new QNetworkAccessManager(this);
    updateManager = new QNetworkAccessManager(this);
    listProcess->setObjectName(QLatin1String(WidgetObjects::listProcess));
    updateProcess->setObjectName(QLatin1String(WidgetObjects::updateProcess));
    infoManager->setObjectName(QLatin1String(WidgetObjects::infoManager));
    firmwareManager->setObjectName(QLatin1String(WidgetObjects::firmwareManager));
    updateManager->setObjectName(QLatin1String(WidgetObjects::updateManager));
    toolUpdater = new ToolUpdater(updateManager, this);
    connect(toolUpdater, &ToolUpdater::reaction, this,
            [this](const Decisions::Reaction &reaction) { carryOut(this, reaction); });
    connect(toolUpdater, &ToolUpdater::offered, this, [this](const Decisions::UpdateOffer &offer) {
        const UpdateAnswer chosen = askAboutUpdate(this, offer);
        toolUpdater->answer(offer, chosen.choice, chosen.stopChecking);
    });
    connect(toolUpdater, &ToolUpdater::downloadStarted, this, &Widget::showInstallerProgress);
    // The installer replaces this program's files, so the tool gives way.
    connect(toolUpdater, &ToolUpdater::installerStarted, QCoreApplication::instance(),
            &QCoreApplication::quit);

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
    const Decisions::DownloadClick click = Decisions::downloadClicked(!firmwareUrl.isEmpty());
    carryOut(this, click);
    if (click.startsListing)
        listProcess->start(DfuListing::program(), DfuListing::arguments(), QIODevice::ReadWrite);
}

void Widget::readResult(int exitCode)
{
    const Decisions::DeviceCheck check = Decisions::deviceCheck(
        exitCode, listProcess->readAllStandardOutput(), std::exchange(listErrors, QByteArray()),
        UnreachableKeyboard::currentPlatform(), UnreachableKeyboard::boundDriver);
    carryOut(this, check);
    if (!check.download)
        return;
    qDebug() << firmwareUrl;
    new FirmwareDownload({firmwareManager, FirmwareServer::baseUrl()}, firmwareRelease.deviceModel,
                         firmwareRelease.version);
}

void Widget::ProcStart()
{
    qDebug() << "Proc Start";
}

void Widget::ProcError(QProcess::ProcessError)
{
    carryOut(this, Decisions::listingFailed());
}

void Widget::RecError(QProcess::ProcessError error)
{
    qDebug() << error;
}

void Widget::finishedSlot(QNetworkReply *reply)
{
    // Released once this handler is done with it, whichever way it leaves.
    reply->deleteLater();
    const Decisions::Information shown =
        Decisions::information(ServerRequests::servedInformation(*reply));
    if (shown.deviceModel)
        ui->lblDeviceType->setText(valueLabelText(*shown.deviceModel));
    carryOut(this, shown);
    if (!shown.release)
        return;
    firmwareRelease = *shown.release;
    firmwareUrl = firmwareRelease.firmwareUrl;
    ui->lblFirmwareVersion->setText(valueLabelText(firmwareRelease.version));
    ui->lblFirmwareDesc->setText(valueLabelText(firmwareRelease.notes));
    toolUpdater->ask();
}

void Widget::FinishedGetFirmware(QNetworkReply *reply)
{
    // Released once this handler is done with it, whichever way it leaves.
    reply->deleteLater();
    FirmwareDownload *download = FirmwareDownload::of(*reply);
    const std::optional<DownloadOutcome> outcome =
        download ? download->finished(reply) : std::nullopt;
    if (!outcome)
        return;

    const Decisions::Firmware shown = Decisions::firmware(*outcome);
    if (shown.received) {
        // Nothing reads it, since FirmwareDownload writes the file; the window
        // holds the latest firmware file's object all the same, as it always has.
        delete firmwareFile;
        firmwareFile = new QFile(FirmwareStore::filePath(), this);
    }
    if (shown.stored)
        listProcess->close();
    carryOut(this, shown);
}

void Widget::on_btnGetFirmWare_clicked()
{
    infoUrl.clear();
    infoUrl.append(FirmwareServer::baseUrl());
    infoUrl.append(FirmwareServer::infoFileName());
    ServerRequests::limitBodySize(infoManager->get(ServerRequests::request(infoUrl)),
                                  FirmwareServer::maxInfoBytes);
}

// The installer's download, while the owner waits or stops it.
void Widget::showInstallerProgress(const ToolRelease &toolRelease)
{
    auto *progress =
        new QProgressDialog(UserTexts::installerDownloading(toolRelease.version),
                            UserTexts::cancelButton(), 0, int(toolRelease.installerSize), this);
    // The version in it came from the server: text, never markup.
    progress->findChild<QLabel *>()->setTextFormat(Qt::PlainText);
    progress->setWindowTitle(UserTexts::windowTitle());
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(0);
    progress->setAutoClose(false);
    connect(progress, &QProgressDialog::canceled, toolUpdater, &ToolUpdater::cancel);
    connect(toolUpdater, &ToolUpdater::progress, progress,
            [progress](qint64 received) { progress->setValue(int(received)); });
    connect(toolUpdater, &ToolUpdater::downloadEnded, progress, &QObject::deleteLater);
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
