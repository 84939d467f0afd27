// ToolUpdater on its own, from the question to the installer's start: a local
// HTTPS server, a real network manager, the owner's choices in a file and the
// user's temporary folder a scratch one. What the platform decides, whether
// this copy installs and how the installer starts, is stood in for.
#include "preferences/updatepreferences.h"
#include "testkit/fixtures.h"
#include "testkit/httpsserver.h"
#include "testkit/waituntil.h"
#include "testkit/windowdriver.h"
#include "toolupdate/toolupdater.h"

#include <QNetworkAccessManager>
#include <QtTest>

namespace {

const QString serverFolder = QStringLiteral("/NV38Firmware/N3KFirmware/");
const char *const temporaryVariables[] = {"TMPDIR", "TMP", "TEMP"};

} // namespace

class TestToolUpdater : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        for (const char *variable : temporaryVariables)
            m_temporaryBefore << qgetenv(variable);
        QVERIFY(m_server.start());
        QVERIFY(m_server.useCertificate(QStringLiteral("server")));
    }
    void cleanup()
    {
        for (int i = 0; i < m_temporaryBefore.size(); ++i)
            qputenv(temporaryVariables[i], m_temporaryBefore.at(i));
    }
    void install_data();
    void install();

private:
    HttpsTestServer m_server;
    QList<QByteArray> m_temporaryBefore;
};

// The owner chose "立即更新" in a copy that installs updates.
void TestToolUpdater::install_data()
{
    QTest::addColumn<CannedResponse>("served"); // the installer
    QTest::addColumn<bool>("starts"); // whether the stand-in start succeeds
    QTest::addColumn<int>("refusal"); // the box's InstallerProblem; -1: started
    QTest::addColumn<QString>("detail"); // what the refusal box tells

    using Kind = CannedResponse::Kind;
    using Problem = UserTexts::InstallerProblem;
    const QByteArray installer = firmwareImage(4096); // what toolReleaseFile() states
    QByteArray changed = installer;
    changed[100] = char(changed[100] ^ 1);
    QTest::newRow("started") << CannedResponse{Kind::File, installer} << true << -1 << QString();
    QTest::newRow("not started") << CannedResponse{Kind::File, installer} << false
                                 << int(Problem::NotStarted) << QStringLiteral("stand-in refused");
    QTest::newRow("a byte changed")
        << CannedResponse{Kind::File, changed} << true << int(Problem::WrongSha256) << QString();
    // Nothing follows the announcement: only its refusal ends the download.
    QTest::newRow("announces 100 MiB")
        << CannedResponse{Kind::Announces100MiB} << true << int(Problem::TooLarge)
        << QStringLiteral("larger than stated");
}

void TestToolUpdater::install()
{
    QFETCH(CannedResponse, served);
    QFETCH(bool, starts);
    QFETCH(int, refusal);
    QFETCH(QString, detail);

    QTemporaryDir temporary;
    for (const char *variable : temporaryVariables)
        qputenv(variable, QFile::encodeName(QDir::toNativeSeparators(temporary.path())));
    const QByteArray statement = toolReleaseFile(QStringLiteral("1.6"));
    const ToolRelease release = std::get<ToolRelease>(ToolReleaseFile::parse(statement));
    m_server.setResponse(serverFolder + "ToolRelease.txt", {CannedResponse::Kind::File, statement});
    m_server.setResponse(serverFolder + "ToolRelease.txt.sig",
                         {CannedResponse::Kind::File, toolReleaseSignature(statement)});
    m_server.setResponse(serverFolder + release.installerName, served);

    QStringList started; // each start's program and folder, and what the program held
    const ToolUpdater::Platform platform{
        [&] { return std::make_unique<UpdatePreferenceStore>(temporary.filePath("kept.ini")); },
        [] { return true; },
        [&](const QString &program, const QStringList &, const QString &folder) {
            started << program << folder << QString::fromLatin1(readFile(program).toHex());
            return starts
                       ? std::nullopt
                       : std::optional<FileFailed>(FileFailed{QStringLiteral("stand-in refused")});
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
    updater.answer(offers.first(), Decisions::UpdateChoice::InstallNow, false);
    QVERIFY(waitUntil([&] { return !ended.isEmpty(); }));

    const QStringList folders = QDir(temporary.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    const bool checked = refusal < 0 || refusal == int(UserTexts::InstallerProblem::NotStarted);
    if (checked) {
        QCOMPARE(started.size(), 3);
        QCOMPARE(started.at(1), QFileInfo(started.at(0)).path());
        QCOMPARE(QFileInfo(started.at(0)).fileName(), release.installerName);
        QCOMPARE(started.at(2), QString::fromLatin1(firmwareImage(4096).toHex()));
    } else {
        QCOMPARE(started, QStringList());
    }
    if (refusal < 0) {
        QCOMPARE(installerStarted.size(), 1);
        QCOMPARE(reactions.last().log, QStringList{"InstallerStarted"});
        QCOMPARE(folders.size(), 1);
        QCOMPARE(QFileInfo(started.at(1)).fileName(), folders.first());
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
