// ToolUpdater on its own: a local HTTPS server, a real network manager, the
// owner's choices in a file, a scratch temporary folder, and stand-ins for
// what the platform decides: whether this copy installs, and the start.
#include "preferences/updatepreferences.h"
#include "testkit/fixtures.h"
#include "testkit/httpsserver.h"
#include "testkit/waituntil.h"
#include "testkit/windowdriver.h"
#include "toolupdate/toolupdater.h"

#include <QNetworkAccessManager>
#include <QtTest>

class TestToolUpdater : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start() && m_server.useCertificate(QStringLiteral("server")));
    }
    void install_data();
    void install();

private:
    HttpsTestServer m_server;
    QTemporaryDir m_scratch; // made before TMP points into it
};

// The owner chose "立即更新" in a copy that installs updates.
void TestToolUpdater::install_data()
{
    QTest::addColumn<CannedResponse>("served"); // the installer
    QTest::addColumn<bool>("starts"); // whether the stand-in start succeeds
    QTest::addColumn<int>("refusal"); // the box's InstallerProblem; -1: started
    QTest::addColumn<QString>("detail"); // what the refusal box tells
    QTest::addColumn<bool>("installs"); // whether this copy installs updates

    using Kind = CannedResponse::Kind;
    using Problem = UserTexts::InstallerProblem;
    const QByteArray installer = firmwareImage(4096); // what toolReleaseFile() states
    QByteArray changed = installer;
    changed[100] = char(changed[100] ^ 1);
    QTest::newRow("started") << CannedResponse{Kind::File, installer} << true << -1 << QString()
                             << true;
    QTest::newRow("not started") << CannedResponse{Kind::File, installer} << false
                                 << int(Problem::NotStarted) << QStringLiteral("stand-in refused")
                                 << true;
    QTest::newRow("a byte changed") << CannedResponse{Kind::File, changed} << true
                                    << int(Problem::WrongSha256) << QString() << true;
    // No download, whatever the owner's answer says.
    QTest::newRow("a copy that does not install")
        << CannedResponse{Kind::File, installer} << true << -1 << QString() << false;
    // Nothing follows the announcement: only its refusal ends the download.
    QTest::newRow("announces 100 MiB")
        << CannedResponse{Kind::Announces100MiB} << true << int(Problem::TooLarge)
        << QStringLiteral("larger than stated") << true;
}

void TestToolUpdater::install()
{
    QFETCH(CannedResponse, served);
    QFETCH(bool, starts);
    QFETCH(int, refusal);
    QFETCH(QString, detail);
    QFETCH(bool, installs);

    QTemporaryDir temporary(m_scratch.filePath(QStringLiteral("XXXXXX")));
    for (const char *variable : {"TMPDIR", "TMP", "TEMP"})
        qputenv(variable, QFile::encodeName(QDir::toNativeSeparators(temporary.path())));
    const QString folder = QStringLiteral("/NV38Firmware/N3KFirmware/");
    const QByteArray statement = toolReleaseFile(QStringLiteral("1.6"));
    const ToolRelease release = *ToolReleaseFile::parse(statement);
    m_server.setResponse(folder + "ToolRelease.txt", {CannedResponse::Kind::File, statement});
    m_server.setResponse(folder + "ToolRelease.txt.sig",
                         {CannedResponse::Kind::File, toolReleaseSignature(statement)});
    m_server.setResponse(folder + release.installerName, served);

    QStringList started; // each start's program and folder, and what the program held
    const ToolUpdater::Platform platform{
        [&] { return std::make_unique<UpdatePreferenceStore>(temporary.filePath("kept.ini")); },
        [installs] { return installs; },
        [&](const QString &program, const QStringList &, const QString &in) {
            started << program << in << readFile(program).toHex();
            return starts ? Result<>()
                          : Failure{Failure::Kind::Failed, QStringLiteral("stand-in refused")};
        }};
    QNetworkAccessManager manager;
    ToolUpdater updater(&manager, nullptr, platform);
    QList<Decisions::UpdateOffer> offers;
    QList<Decisions::Reaction> reactions;
    connect(&updater, &ToolUpdater::offered, this, [&](const auto &offer) { offers << offer; });
    connect(&updater, &ToolUpdater::reaction, this,
            [&](const auto &reaction) { reactions << reaction; });
    QSignalSpy ended(&updater, &ToolUpdater::downloadEnded);
    QSignalSpy installerStarted(&updater, &ToolUpdater::installerStarted);
    updater.ask();
    QVERIFY(waitUntil([&] { return !offers.isEmpty(); }));
    int downloads = 0;
    connect(&updater, &ToolUpdater::downloadStarted, this, [&] { ++downloads; });
    updater.answer(offers.first(), Decisions::UpdateChoice::InstallNow, false);
    QCOMPARE(downloads, int(installs)); // at once or never
    if (!installs)
        return;
    QVERIFY(waitUntil([&] { return !ended.isEmpty(); }));

    // Started, or tried, as held: the checked installer, in its folder.
    const QStringList folders = QDir(temporary.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    const QFileInfo program(started.value(0));
    if (refusal < 0 || refusal == int(UserTexts::InstallerProblem::NotStarted))
        QCOMPARE(started, (QStringList{temporary.path() + "/" + program.dir().dirName() + "/"
                                           + release.installerName,
                                       program.path(), firmwareImage(4096).toHex()}));
    else
        QCOMPARE(started, QStringList());
    if (refusal < 0) {
        QCOMPARE(installerStarted.size(), 1);
        QCOMPARE(reactions.last().log, QStringList{"InstallerStarted"});
        QCOMPARE(folders, QStringList{program.dir().dirName()});
        return;
    }
    QCOMPARE(installerStarted.size(), 0);
    QVERIFY(reactions.last().box);
    QCOMPARE(box(*reactions.last().box),
             box(UserTexts::installerRefused(UserTexts::InstallerProblem(refusal), detail)));
    QCOMPARE(folders, QStringList());
    // The update did not get that far: the next click asks again.
    updater.ask();
    QVERIFY(waitUntil([&] { return offers.size() == 2; }));
}

QTEST_MAIN(TestToolUpdater)
#include "tst_toolupdater.moc"
