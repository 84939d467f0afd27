#pragma once

#include "decisions/windowdecisions.h"

#include <QProcess>
#include <QString>
#include <QWidget>

class QFile;
class QNetworkAccessManager;
class QNetworkReply;
class ToolUpdater;

namespace Ui {
class Widget;
}

// The object names the window gives what it asks and runs through, so that
// tests, the demo and the benchmarks find each by what it is, not by the
// order it was made in.
namespace WidgetObjects {
constexpr char infoManager[] = "infoManager"; // asks for Version.txt
constexpr char firmwareManager[] = "firmwareManager"; // downloads the firmware
constexpr char updateManager[] = "updateManager"; // the tool's own updates
constexpr char listProcess[] = "listProcess"; // dfu-util's listing
constexpr char updateProcess[] = "updateProcess";
} // namespace WidgetObjects

// The tool's only window. It owns all state; every event arrives as one of
// its private slots, which only carry out what decisions/ makes of each
// answer and show the boxes usertexts/ words.
class Widget : public QWidget
{
    Q_OBJECT

public:
    explicit Widget(QWidget *parent = nullptr);
    ~Widget() override;

    // The slots keep the names (and the one typo) that log readers and the
    // form's by-name connections expect; their order is the meta-object's.
private slots:
    void on_btnUpdate_clicked();
    void readResult(int exitCode);
    void ProcStart();
    void ProcError(QProcess::ProcessError);
    void RecError(QProcess::ProcessError error);
    void finishedSlot(QNetworkReply *reply);
    void FinishedGetFirmware(QNetworkReply *reply);
    void on_btnGetFirmWare_clicked();
    void UpdateProcError(QProcess::ProcessError error);
    void UpdateProcStanardError();
    void UpdateProcStandardOutput();
    void UpdateProcFinish();
    void UpdateProcStart();
    void UpdateStateChange(QProcess::ProcessState state);

private:
    void showInstallerProgress(const ToolRelease &toolRelease);

    Ui::Widget *ui;
    QProcess *listProcess;
    QProcess *updateProcess; // only read by the UpdateProc* logging slots
    QNetworkAccessManager *infoManager;
    QNetworkAccessManager *firmwareManager;
    QString firmwareUrl; // empty until a complete information file was read
    Decisions::Release firmwareRelease; // what firmwareUrl was made from
    QString infoUrl;
    QFile *firmwareFile = nullptr;
    QByteArray listErrors; // dfu-util's standard error in this run, bounded
    QNetworkAccessManager *updateManager; // the tool's own updates
    ToolUpdater *toolUpdater; // which asks through updateManager
};
