// What the window makes of each click and answer: the lines it logs, the box it
// shows (in that order) and what it does next, as decisions/ hands them to the
// window and to nv38k-publish's check.
#include "buildsettings/buildsettings.h"
#include "decisions/windowdecisions.h"
#include "download/firmwareverification.h"
#include "integrity/sha256.h"
#include "server/firmwareserver.h"
#include "server/logtext.h"
#include "testkit/fixtures.h"
#include "testkit/windowdriver.h"
#include "usertexts/usertexts.h"

#include <QTextCodec>
#include <QtTest>

using UnreachableKeyboard::BoundDriver;
using Verdict = Failure::Kind;
Q_DECLARE_METATYPE(DownloadOutcome)
Q_DECLARE_METATYPE(Decisions::UpdateChoice)

namespace {

// The log lines, the box and the lines logged after it, in order.
QStringList shown(const Decisions::Reaction &reaction)
{
    return reaction.log + (reaction.box ? QStringList{box(*reaction.box)} : QStringList())
           + reaction.logAfterBox;
}

const QString badFile = box(*UserTexts::informationRefused(VersionInfo::Status::BadDeviceLine));
const QString noDevice = box(UserTexts::noDevice());
const QString sizeLabel = UserTexts::firmwareSizeLogLabel() + ' ';

} // namespace

class TestDecisions : public QObject
{
    Q_OBJECT

private slots:
    void texts_data();
    void texts();
    void clicksAndFailedReplies();
    void information_data();
    void information();
    void deviceCheck_data();
    void deviceCheck();
    void toolUpdateOverTime_data();
    void toolUpdateOverTime();
    void toolReleaseVersions_data();
    void toolReleaseVersions();
    void firmware_data();
    void firmware();
    void verification_data();
    void verification();
};

// Every text the tool shows its owner, stated once; the other rows ask the
// catalogue for them.
void TestDecisions::texts_data()
{
    QTest::addColumn<QString>("given"); // what the catalogue gives
    QTest::addColumn<QString>("reads"); // what the owner reads

    using UserTexts::InstallerProblem;
    const auto add = [](const char *name, const QString &given, const QString &reads) {
        QTest::newRow(name) << given << reads;
    };
    const auto refusal = [](InstallerProblem problem, const QString &detail = {}) {
        return box(UserTexts::installerRefused(problem, detail));
    };
    const auto updateFailed = [](const QString &what) {
        return box("critical", "更新失败",
                   what + "\n\n安装程序没有运行，已下载的文件已删除。请稍后再试。");
    };
    // The build's version, whichever it is.
    add("window title", UserTexts::windowTitle(),
        "NV38K升级工具V" + QLatin1String(BuildSettings::toolVersion));
    add("下载固件 first", box(UserTexts::informationFirst()),
        box("warning", "警告", "请先获取固件信息后再试"));
    add("dfu-util damaged", box(UserTexts::toolDamaged()),
        box("critical", "错误", "升级工具损坏，请重新安装"));
    add("no device", noDevice,
        box("warning", "未检测到设备", "未检测到可升级的设备,请检查设备是否正确连接。"));
    add("another device", box(UserTexts::foreignDevice()),
        box("warning", "未检测到设备", "未查找到相应设备，请检查设备是否与升级工具软件匹配。"));
    add("Version.txt not had", box(UserTexts::informationReplyFailed()),
        box("information", "error", "error"));
    add("bad device line", badFile, box("critical", "错误", "获取固件信息错误。"));
    add("bad version line",
        box(*UserTexts::informationRefused(VersionInfo::Status::BadVersionLine)),
        box("critical", "错误", "获取固件版本错误。"));
    add("no GBK", box(UserTexts::noGbkCodec()),
        box("critical", "错误", "缺少GBK文字编码支持，请重新安装。"));
    add("firmware not had", box(UserTexts::firmwareDownloadFailed("HTTP 302")),
        box("information", "错误", "下载固件失败HTTP 302"));
    add("signature not had", box(UserTexts::firmwareSignatureFailed(Verdict::Absent)),
        box("information", "错误", "下载固件失败：无法获取固件签名"));
    add("signature malformed", box(UserTexts::firmwareSignatureFailed(Verdict::Refused)),
        box("information", "错误", "下载固件失败：固件签名格式错误"));
    add("signature not verified", box(UserTexts::firmwareSignatureFailed(Verdict::NotVerified)),
        box("information", "错误", "下载固件失败：固件签名验证失败"));
    add("file not opened", box(UserTexts::fileOpenFailed()),
        box("information", "File", "File Open Failed.", "none"));
    add("file not written", box(UserTexts::fileWriteFailed()),
        box("information", "File", "File Write Failed.", "none"));
    add("firmware stored", successBox(),
        box("information", "成功", "下载固件成功,请使用升级工具进行升级。"));
    add("installer not had", refusal(InstallerProblem::DownloadFailed, "HTTP 404"),
        updateFailed("下载安装程序失败（HTTP 404）。"));
    add("installer too large", refusal(InstallerProblem::TooLarge),
        updateFailed("下载的安装程序比发布说明的大。"));
    add("installer of another size", refusal(InstallerProblem::WrongSize),
        updateFailed("下载的安装程序大小与发布说明不符。"));
    add("installer of another SHA-256", refusal(InstallerProblem::WrongSha256),
        updateFailed("下载的安装程序与发布说明不符（SHA-256 不同），可能已损坏或被篡改。"));
    add("installer not saved", refusal(InstallerProblem::NotSaved, "磁盘已满"),
        updateFailed("无法保存安装程序（磁盘已满）。"));
    add("installer not started", refusal(InstallerProblem::NotStarted, "拒绝访问"),
        updateFailed("无法启动安装程序（拒绝访问）。"));
    add("installer downloading",
        UserTexts::installerDownloading("1.6") + '|' + UserTexts::cancelButton(),
        "正在下载升级工具 1.6 的安装程序…|取消");
    add("captions and the log's word",
        QStringList{UserTexts::modelCaption(), UserTexts::versionCaption(),
                    UserTexts::notesCaption(), sizeLabel}
            .join('|'),
        "设备型号|固件版本|固件更新说明|收到固件大小: ");

    ToolRelease release;
    release.version = "1.6";
    release.securityFix = true;
    release.advisory = "修复了固件下载中的问题";
    const auto update = [](const UpdateBox &offer) {
        return QStringList{box(offer.box), offer.installButton, offer.dismissButton,
                           offer.detailsButton, offer.stopCheckingText}
            .join('/');
    };
    add("security fix, installed", update(UserTexts::toolUpdateAvailable(release, "1.5", true)),
        box("warning", "安全更新",
            "升级工具有安全更新：版本 1.6（当前版本 1.5）。\n\n修复了固件下载中的问题"
            "\n\n点“立即更新”下载并安装新版本，安装前工具会自动关闭。")
            + "/立即更新/稍后提醒//不再检查工具更新");
    release.securityFix = false;
    release.advisoryUrl = "https://nv38k.example/1";
#ifdef Q_OS_WIN
    const QString elsewhere = "请从发布者的网站下载新版本。";
#else
    const QString elsewhere = "请通过系统的软件包管理器更新。";
#endif
    add("routine release, not installed",
        update(UserTexts::toolUpdateAvailable(release, "1.5", false)),
        box("information", "工具更新",
            "升级工具有新版本：1.6（当前版本 1.5）。\n\n修复了固件下载中的问题"
            "\n详情：https://nv38k.example/1\n\n"
                + elsewhere)
            + "//跳过此版本/查看详情/不再检查工具更新");
}

void TestDecisions::texts()
{
    QFETCH(QString, given);
    QFETCH(QString, reads);
    QCOMPARE(given, reads);
}

void TestDecisions::clicksAndFailedReplies()
{
    // "下载固件" before any information file: a box, and dfu-util is not run.
    const Decisions::DownloadClick early = Decisions::downloadClicked(false);
    QCOMPARE(shown(early), QStringList{box(UserTexts::informationFirst())});
    QVERIFY(!early.startsListing);
    const Decisions::DownloadClick click = Decisions::downloadClicked(true);
    QCOMPARE(shown(click), QStringList{quotedForLog("./bin/x64/dfu-util-static")});
    QVERIFY(click.startsListing);

    QCOMPARE(shown(Decisions::listingFailed()),
             (QStringList{"error", box(UserTexts::toolDamaged())}));

    // A failed information reply leaves every label as it was.
    const Decisions::Information failed =
        Decisions::information(Failure{Failure::Kind::Failed, QStringLiteral("Connection closed")});
    QCOMPARE(shown(failed), QStringList{box(UserTexts::informationReplyFailed())});
    QVERIFY(!failed.deviceModel && !failed.release);
}

void TestDecisions::information_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("model"); // for the model label; none: it stays as it was
    QTest::addColumn<QStringList>("release"); // model, version, notes, firmware address
    QTest::addColumn<QStringList>("shown");

    const auto valid = [](const char *name, const QByteArray &body, const QString &model,
                          const QString &version, const QString &notes, const QString &file) {
        QTest::newRow(name) << body << QStringList{model}
                            << QStringList{model, version, notes, FirmwareServer::baseUrl() + file}
                            << QStringList();
    };
    // Without a model line, the file is refused whole; without a version
    // line, the model is shown all the same.
    const auto refused = [](const char *name, const QByteArray &body,
                            const QStringList &model = {}) {
        QTest::newRow(name) << body << model << QStringList()
                            << QStringList{model.isEmpty()
                                               ? badFile
                                               : box(*UserTexts::informationRefused(
                                                   VersionInfo::Status::BadVersionLine))};
    };
    valid("typical", "[Device]=K1\r\n[Version]=2.0\r\n[Desc]=first note\r\n[Desc]=second note\r\n",
          "K1", "2.0", "first note\r\nsecond note", "K1_2.0.nv");
    valid("no notes, no final line end", "[Device]=K1\r\n[Version]=2.0", "K1", "2.0", "",
          "K1_2.0.nv");
    valid("other lines ignored",
          "[Device]=K1\r\n[Version]=2.0\r\n\r\nnoise\r\n[Desc]=a=b\r\n[Desc]=kept\r\n[desc]=no",
          "K1", "2.0", "kept", "K1_2.0.nv");
    valid("empty notes lines", "[Device]=K1\r\n[Version]=2.0\r\n[Desc]=\r\n[Desc]=\r\n", "K1",
          "2.0", "\r\n", "K1_2.0.nv");
    valid("key only has to begin with the tag", "[Device]x=K1\r\n[Version] v=2.0\r\n[Desc]1=n",
          "K1", "2.0", "n", "K1_2.0.nv");
    valid("values verbatim", "[Device]= K 1 \r\n[Version]=\t2.0\r\r\n[Desc]= <b>x</b> ", " K 1 ",
          "\t2.0\r", " <b>x</b> ", " K 1 _\t2.0\r.nv");
    valid("empty values", "[Device]=\r\n[Version]=", "", "", "", "_.nv");
    // As the vendor's Windows tools write it: 键盘, 二, 修复按键失灵, 提升稳定性.
    valid(
        "GBK",
        "[Device]=\xbc\xfc\xc5\xcc"
        "K1\r\n[Version]=\xb6\xfe.0\r\n[Desc]=\xd0\xde\xb8\xb4\xb0\xb4\xbc\xfc\xca\xa7\xc1\xe9\r\n"
        "[Desc]=\xcc\xe1\xc9\xfd\xce\xc8\xb6\xa8\xd0\xd4",
        "键盘K1", "二.0", "修复按键失灵\r\n提升稳定性", "键盘K1_二.0.nv");
    // Bytes that are no GBK are shown as replacement characters, not refused.
    valid("invalid GBK", "[Device]=K1\r\n[Version]=2.0\r\n[Desc]=\x81\x20\xff\x80", "K1", "2.0",
          QTextCodec::codecForName("GBK")->toUnicode("\x81\x20\xff\x80"), "K1_2.0.nv");

    refused("empty body", "");
    refused("LF line ends make one line", "[Device]=K1\n[Version]=2.0\n");
    refused("three parts", "[Device]=A=B\r\n[Version]=2.0");
    refused("no separator", "[Device]K1\r\n[Version]=2.0");
    refused("keys are case-sensitive", "[device]=K1\r\n[Version]=2.0");
    refused("blank before the key", " [Device]=K1\r\n[Version]=2.0");
    refused("lines swapped", "[Version]=2.0\r\n[Device]=K1");
    refused("redirect page", "<html><body><h1>302 Found</h1></body></html>\n");
    refused("binary garbage", QByteArray("\x00\xff\xfe=\x81\x30\r\n\x80", 9));
    QByteArray garbage(4096, Qt::Uninitialized);
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 7919) >> 3);
    refused("4 KiB of garbage", garbage);
    refused("one line, no line end", "[Device]=K1", {"K1"});
    refused("one line and a line end", "[Device]=K1\r\n", {"K1"});
    refused("version not second", "[Device]=K1\r\n[Desc]=x\r\n[Version]=2.0", {"K1"});
    refused("version with three parts", "[Device]=K1\r\n[Version]=2=0", {"K1"});
}

void TestDecisions::information()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, model);
    QFETCH(QStringList, release);
    QFETCH(QStringList, shown);

    const Decisions::Information info = Decisions::information(body);
    QCOMPARE(info.deviceModel ? QStringList{*info.deviceModel} : QStringList(), model);
    const auto &offered = info.release;
    const QStringList offeredList = offered ? QStringList{offered->deviceModel, offered->version,
                                                          offered->notes, offered->firmwareUrl}
                                            : QStringList();
    QCOMPARE(offeredList, release);
    QCOMPARE(::shown(info), shown);
}

void TestDecisions::deviceCheck_data()
{
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("listing");
    QTest::addColumn<QByteArray>("errors");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<bool>("download");
    QTest::addColumn<bool>("driverAsked");

    const QByteArray noKeyboard("dfu-util 0.11\n\n");
    const QByteArray listed(
        "dfu-util 0.11\n\nFound DFU: [0483:df13] ver=0200, devnum=7, cfg=1, "
        "intf=0, path=\"1-2\", alt=0, name=\"@NV38K Flash   "
        "/0x00000000/15*001Ka,155*001Kg\", serial=\"NV38K CUSTOMED KEYBOARD\"\n");
    const QByteArray noDriver("dfu-util: Cannot open DFU device 0483:df13 found on devnum 7 "
                              "(LIBUSB_ERROR_NOT_SUPPORTED)\n");
    const QByteArray heldElsewhere("Cannot open DFU device 0483:df13 found on devnum 12 "
                                   "(LIBUSB_ERROR_ACCESS)\r\n");
    const QByteArray otherDevice = QByteArray(noDriver).replace("df13", "df11");
    const auto ascii = [](const QByteArray &bytes) {
        return quotedForLog(QString::fromLatin1(bytes));
    };
    const WindowBox held = UserTexts::unreachableKeyboard(UnreachableKeyboard::Platform::Windows,
                                                          "LIBUSB_ERROR_ACCESS",
                                                          {BoundDriver::State::Service, "WinUSB"});

    const auto add = [](const char *name, const QByteArray &listing, const QByteArray &errors,
                        const QStringList &shown, bool download = false, bool driverAsked = false,
                        int exitCode = 0) {
        QTest::newRow(name) << exitCode << listing << errors << shown << download << driverAsked;
    };
    add("keyboard held by another program", noKeyboard, heldElsewhere,
        {ascii(noKeyboard), ascii(heldElsewhere), box(held),
         "Device Not Accessible LIBUSB_ERROR_ACCESS"},
        false, true);
    add("another device not opened", noKeyboard, otherDevice,
        {ascii(noKeyboard), ascii(otherDevice), noDevice, "None Device Found"});
    // Listed after all: the warning came from another interface or a retry.
    add("keyboard listed despite a warning", listed, noDriver, {ascii(listed), ascii(noDriver)},
        true);
    // A system message on Chinese Windows comes in the console's code page.
    add("GBK on standard error", noKeyboard,
        "dfu-util: \xce\xde\xb7\xa8\xb4\xf2\xbf\xaa\xc9\xe8\xb1\xb8\xa3\xba"
        "\xbe\xdc\xbe\xf8\xb7\xc3\xce\xca\xa1\xa3\r\n",
        {ascii(noKeyboard), quotedForLog("dfu-util: 无法打开设备：拒绝访问。\r\n"), noDevice,
         "None Device Found"});
    QByteArray garbage(64 * 1024, Qt::Uninitialized);
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char(i * 131 + (i >> 8));
    add("binary garbage", garbage, {},
        {quotedForLog(QTextCodec::codecForName("GBK")->toUnicode(garbage)), noDevice,
         "None Device Found"});
    // dfu-util explains its own failures.
    add("non-zero exit", listed, noDriver, {}, false, false, 74);
}

void TestDecisions::deviceCheck()
{
    QFETCH(int, exitCode);
    QFETCH(QByteArray, listing);
    QFETCH(QByteArray, errors);
    QFETCH(QStringList, shown);
    QFETCH(bool, download);
    QFETCH(bool, driverAsked);

    int asked = 0;
    const Decisions::DeviceCheck check = Decisions::deviceCheck(
        exitCode, listing, errors, UnreachableKeyboard::Platform::Windows, [&] {
            ++asked;
            return BoundDriver{BoundDriver::State::Service, QStringLiteral("WinUSB")};
        });
    QCOMPARE(::shown(check), shown);
    QCOMPARE(check.download, download);
    QCOMPARE(asked, int(driverAsked));
}

void TestDecisions::firmware_data()
{
    QTest::addColumn<DownloadOutcome>("outcome");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<bool>("received"); // a firmware came and was accepted
    QTest::addColumn<bool>("stored");

    using Kind = DownloadOutcome::Kind;
    const auto checked = [](Kind kind, const Result<> &signature) {
        DownloadOutcome outcome{kind, 174080};
        outcome.signature = signature;
        return outcome;
    };
    const QString size = sizeLabel + "174080";
    const QString saved = "SaveFileSuccess 174080";

    const auto add = [](const char *name, const DownloadOutcome &outcome, const QStringList &shown,
                        bool received = false, bool stored = false) {
        QTest::newRow(name) << outcome << shown << received << stored;
    };
    add("stored", {Kind::Stored, 174080}, {size, saved, successBox()}, true, true);
    add("empty firmware stored", {Kind::Stored, 0},
        {sizeLabel + "0", "SaveFileSuccess 0", successBox()}, true, true);
    add("download failed", {Kind::DownloadFailed, 0, "HTTP 302"},
        {box(UserTexts::firmwareDownloadFailed("HTTP 302"))});
    add("file not opened", {Kind::OpenFailed, 174080}, {size, box(UserTexts::fileOpenFailed())},
        true);
    add("file not written", checked(Kind::WriteFailed, Result<>()),
        {size, "SignatureVerified", box(UserTexts::fileWriteFailed())}, true);
}

void TestDecisions::firmware()
{
    QFETCH(DownloadOutcome, outcome);
    QFETCH(QStringList, shown);
    QFETCH(bool, received);
    QFETCH(bool, stored);

    const Decisions::Firmware decided = Decisions::firmware(outcome);
    QCOMPARE(::shown(decided), shown);
    QCOMPARE(decided.received, received);
    QCOMPARE(decided.stored, stored);
}

// A firmware and its signature as served, judged as the window and
// nv38k-publish check both judge them in a build carrying the test keys in
// `keys`, and what the window then shows.
void TestDecisions::verification_data()
{
    QTest::addColumn<QByteArray>("firmware"); // offered as K1 2.0
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QString>("notServed"); // why no signature came, if none did
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QStringList>("shown");

    const QByteArray image = firmwareImage(1000);
    const QByteArray valid = firmwareSignature(image);
    QByteArray changed = image;
    changed[500] = char(changed[500] ^ 1);
    const QStringList stored{sizeLabel + "1000", "SignatureVerified", "SaveFileSuccess 1000",
                             successBox()};
    const auto refused = [](const QString &why, Verdict verdict) {
        return QStringList{sizeLabel + "1000", "SignatureCheckFailed " + quotedForLog(why),
                           box(UserTexts::firmwareSignatureFailed(verdict))};
    };
    const QStringList notVerified = refused(
        "no trusted key signed this firmware for this model and version", Verdict::NotVerified);
    const auto add = [&](const char *name, const QByteArray &signature, const QStringList &shown,
                         const char *keys = "signing", const QByteArray &firmware = {},
                         const QString &notServed = {}) {
        QTest::newRow(name) << (firmware.isNull() ? image : firmware) << signature << notServed
                            << QString(keys) << shown;
    };
    add("signed", valid, stored);
    add("signed by the first of two keys", firmwareSignature(image, "other-signing"), stored,
        "rotation");
    add("signed by the second of two keys", valid, stored, "rotation");
    add("signed by another key", firmwareSignature(image, "other-signing"), notVerified);
    add("signed by the tool release key", firmwareSignature(image, "tool-release"), notVerified);
    add("signed for another version", firmwareSignature(image, "signing", "1.9"), notVerified);
    add("firmware changed by a byte", valid, notVerified, "signing", changed);
    add("empty signature", "", refused("the signature is 0 bytes, not 64", Verdict::Refused));
    add("truncated signature", valid.chopped(1),
        refused("the signature is 63 bytes, not 64", Verdict::Refused));
    add("no signature served", {}, refused("HTTP 404", Verdict::Absent), "signing", {}, "HTTP 404");
}

void TestDecisions::verification()
{
    QFETCH(QByteArray, firmware);
    QFETCH(QByteArray, signature);
    QFETCH(QString, notServed);
    QFETCH(QString, keys);
    QFETCH(QStringList, shown);

    const QByteArray keysPem = readFile(QStringLiteral(NV38K_TEST_CERT_DIR "/") + keys + ".pub");
    QVERIFY(keysPem.contains("PUBLIC KEY"));
    const ServedFile served = notServed.isEmpty()
                                  ? ServedFile(signature)
                                  : ServedFile(Failure{Failure::Kind::Absent, notServed});
    const DownloadOutcome outcome =
        verifiedFirmware({"K1", "2.0", firmware.size(), *Sha256::hash(firmware)}, served, keysPem);
    QCOMPARE(::shown(Decisions::firmware(outcome)), shown);
}

// A release offered, the owner's answer kept (chosen with the clock `chosenAt`
// seconds off), and the release stated as `statedAgain` asked about `later`
// seconds on: offered again or not.
void TestDecisions::toolUpdateOverTime_data()
{
    QTest::addColumn<bool>("securityFix");
    QTest::addColumn<Decisions::UpdateChoice>("choice");
    QTest::addColumn<qint64>("chosenAt");
    QTest::addColumn<QString>("statedAgain");
    QTest::addColumn<qint64>("later");
    QTest::addColumn<bool>("offeredAgain");

    using Choice = Decisions::UpdateChoice;
    const qint64 threeDays = 3 * 24 * 3600;
    const qint64 year = 365 * 24 * 3600;
    for (const bool security : {true, false}) {
        const QString kind = security ? "security fix, " : "other release, ";
        const auto add = [&](const char *name, Choice choice, qint64 later, bool again,
                             qint64 chosenAt = 0, const QString &statedAgain = "1.6") {
            QTest::newRow(qPrintable(kind + name))
                << security << choice << chosenAt << statedAgain << later << again;
        };
        add("稍后提醒, a second short of three days", Choice::Later, threeDays - 1, false);
        add("稍后提醒, three days on", Choice::Later, threeDays, true);
        add("稍后提醒, then stated as 1.6.0", Choice::Later, 60, false, 0, "1.6.0");
        // A clock far ahead when it was chosen, put right since.
        add("稍后提醒 with the clock 3,000 days ahead", Choice::Later, 60, true, 3000 * 24 * 3600);
        // Skipped for good, unless it fixes a security flaw.
        add("跳过此版本, a year on", Choice::Skip, year, security);
        add("跳过此版本, then stated as 1.6.0", Choice::Skip, year, security, 0, "1.6.0");
        // Chosen to install, it is offered until it is installed.
        add("立即更新, a minute on", Choice::InstallNow, 60, true);
    }
}

void TestDecisions::toolUpdateOverTime()
{
    QFETCH(bool, securityFix);
    QFETCH(Decisions::UpdateChoice, choice);
    QFETCH(qint64, chosenAt);
    QFETCH(QString, statedAgain);
    QFETCH(qint64, later);
    QFETCH(bool, offeredAgain);

    const QDateTime now = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
    ToolRelease release;
    release.version = "1.6";
    release.securityFix = securityFix;
    release.expires = now.addYears(2);
    const auto offered = [&](const UpdatePreferences &kept, const QDateTime &at) {
        return Decisions::toolRelease(release, "1.5", kept, at, true).offer.has_value();
    };
    QVERIFY(offered({}, now));
    // Kept as the store keeps it: to the second, in UTC.
    QTemporaryDir folder;
    UpdatePreferenceStore store(folder.filePath("kept.ini"));
    QVERIFY(
        store.write(Decisions::afterUpdateBox({}, release, choice, false, now.addSecs(chosenAt))));
    const UpdatePreferences kept = store.read();
    release.version = statedAgain;
    QCOMPARE(offered(kept, now.addSecs(later)), offeredAgain);
    QVERIFY(kept.checkForUpdates);
    QVERIFY(!Decisions::afterUpdateBox(kept, release, choice, true, now).checkForUpdates);
}

// Versions compare number by number, a missing number counting as 0. A
// statement is taken while fresh, and only when no newer one was accepted
// before: a renewal of the same release is newer, a replay of an earlier
// one is not.
void TestDecisions::toolReleaseVersions_data()
{
    QTest::addColumn<QString>("stated");
    QTest::addColumn<qint64>("expiresIn"); // seconds from now
    QTest::addColumn<QString>("running");
    QTest::addColumn<QString>("acceptedBefore"); // and expiring in 30 days
    QTest::addColumn<QString>("logged");
    QTest::addColumn<bool>("offered");
    QTest::addColumn<QString>("keptAfter"); // what is then remembered as the newest, if changed

    constexpr qint64 day = 24 * 3600;
    const auto add = [](const char *name, const QString &stated, const QString &running,
                        const QString &logged, bool offered, const QString &keptAfter,
                        qint64 expiresIn = 90 * 24 * 3600, const QString &acceptedBefore = {}) {
        QTest::newRow(name) << stated << expiresIn << running << acceptedBefore
                            << "ToolRelease: " + logged << offered << keptAfter;
    };
    add("1.10 against 1.9", "1.10", "1.9", "1.10 offered", true, "1.10");
    add("1.5.1 against 1.5", "1.5.1", "1.5", "1.5.1 offered", true, "1.5.1");
    add("1.5 against 1.5.0.1", "1.5", "1.5.0.1", "1.5, not newer than 1.5.0.1", false, "1.5");
    add("1.5.0 against 1.5", "1.5.0", "1.5", "1.5.0, not newer than 1.5", false, "1.5.0");
    add("a second before it goes stale", "1.6", "1.5", "1.6 offered", true, "1.6", 1);
    add("stale this very second", "1.6", "1.5", "1.6, stale since ", false, {}, 0);
    add("older than one accepted before", "1.6", "1.5",
        "1.6 expiring %1, older than 1.8 expiring %2 accepted before", false, {}, 90 * day, "1.8");
    add("the same release, signed before the one accepted", "1.6", "1.5",
        "1.6 expiring %1, older than 1.6 expiring %2 accepted before", false, {}, 10 * day, "1.6");
    add("the same release, renewed", "1.6", "1.5", "1.6 offered", true, "1.6", 90 * day, "1.6");
    add("the same statement again", "1.6", "1.5", "1.6 offered", true, {}, 30 * day, "1.6");
    add("newer than one accepted before", "1.8", "1.5", "1.8 offered", true, "1.8", 90 * day,
        "1.6");
}

void TestDecisions::toolReleaseVersions()
{
    QFETCH(QString, stated);
    QFETCH(qint64, expiresIn);
    QFETCH(QString, running);
    QFETCH(QString, acceptedBefore);
    QFETCH(QString, logged);
    QFETCH(bool, offered);
    QFETCH(QString, keptAfter);

    const QDateTime now = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
    ToolRelease release;
    release.version = stated;
    release.expires = now.addSecs(expiresIn);
    // Kept as the store keeps it, beside the owner's other choices.
    QTemporaryDir folder;
    UpdatePreferenceStore store(folder.filePath("kept.ini"));
    UpdatePreferences kept;
    kept.skippedVersion = "1.4";
    kept.acceptedVersion = acceptedBefore;
    if (!acceptedBefore.isEmpty())
        kept.acceptedExpires = now.addDays(30);
    QVERIFY(store.write(kept));
    const Decisions::ToolUpdate update =
        Decisions::toolRelease(release, running, store.read(), now, false);
    QCOMPARE(update.offer.has_value(), offered);
    QCOMPARE(update.log.size(), 1);
    const QString expected = logged.contains("%1")
                                 ? logged.arg(release.expires.toString(Qt::ISODate),
                                              kept.acceptedExpires.toString(Qt::ISODate))
                                 : logged;
    QVERIFY2(update.log.first().startsWith(expected), qPrintable(update.log.first()));
    QCOMPARE(update.keep.has_value(), !keptAfter.isEmpty());
    if (update.keep) {
        QVERIFY(store.write(*update.keep));
        QCOMPARE(store.read().acceptedVersion, keptAfter);
        QCOMPARE(store.read().acceptedExpires, release.expires);
        QCOMPARE(store.read().skippedVersion, kept.skippedVersion);
    }
}

QTEST_GUILESS_MAIN(TestDecisions)
#include "tst_decisions.moc"
