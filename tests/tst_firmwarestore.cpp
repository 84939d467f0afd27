// Storing the firmware: whole files, replaced atomically, nothing left behind.
#include "storage/firmwarestore.h"
#include "testkit/filesizelimit.h"
#include "testkit/fixtures.h"

#include <QTemporaryDir>
#include <QtTest>
#include <optional>

using Result = FirmwareStore::Result;
Q_DECLARE_METATYPE(FirmwareStore::Result)

namespace {

enum class Setup { Nothing, EarlierFirmware, TmpIsAFile, DataIsADirectory, DiskFillsUp };

} // namespace

Q_DECLARE_METATYPE(Setup)

class TestFirmwareStore : public QObject
{
    Q_OBJECT

private slots:
    void save_data();
    void save();
};

void TestFirmwareStore::save_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<Result>("result");
    QTest::addColumn<bool>("discarded"); // the download failed partway

    const QByteArray firmware = firmwareImage(170 * 1024);
    QTest::newRow("first download") << Setup::Nothing << firmware << Result::Saved << false;
    QTest::newRow("empty firmware") << Setup::Nothing << QByteArray() << Result::Saved << false;
    QTest::newRow("replaces a longer file")
        << Setup::EarlierFirmware << QByteArray("short") << Result::Saved << false;
    QTest::newRow("tmp is a plain file")
        << Setup::TmpIsAFile << firmware << Result::OpenFailed << false;
    QTest::newRow("Data.nv is a directory")
        << Setup::DataIsADirectory << firmware << Result::OpenFailed << false;
    QTest::newRow("disk fills up")
        << Setup::DiskFillsUp << firmware << Result::WriteFailed << false;
    QTest::newRow("failed first download")
        << Setup::Nothing << firmware << Result::WriteFailed << true;
    QTest::newRow("failed download")
        << Setup::EarlierFirmware << firmware << Result::WriteFailed << true;
}

void TestFirmwareStore::save()
{
    QFETCH(Setup, setup);
    QFETCH(QByteArray, data);
    QFETCH(Result, result);
    QFETCH(bool, discarded);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString dir = root.filePath(QStringLiteral("tmp"));
    const QString path = dir + QStringLiteral("/Data.nv");
    const QByteArray earlier = firmwareImage(200 * 1024).mid(3);

    switch (setup) {
    case Setup::Nothing:
        break;
    case Setup::EarlierFirmware:
    case Setup::DiskFillsUp:
        QVERIFY(QDir().mkdir(dir));
        QVERIFY(writeFile(path, earlier));
        break;
    case Setup::TmpIsAFile:
        QVERIFY(writeFile(dir, earlier));
        break;
    case Setup::DataIsADirectory:
        QVERIFY(QDir().mkpath(path));
        break;
    }

    if (setup == Setup::DiskFillsUp && !FileSizeLimit::isSupported)
        QSKIP("no file size limit on this system to make the disk fill up");
    std::optional<FileSizeLimit> limit;
    if (setup == Setup::DiskFillsUp)
        limit.emplace(150 * 1024); // the last write stops partway
    // In pieces, as a download arrives.
    std::optional<FirmwareStore::Writer> writer(std::in_place, dir, path);
    for (int at = 0; at < data.size(); at += 16 * 1024)
        writer->write(data.constData() + at, qMin(16 * 1024, data.size() - at));
    const Result actual = discarded ? Result::WriteFailed : writer->commit();
    writer.reset();
    limit.reset();
    QCOMPARE(actual, result);

    if (result == Result::Saved)
        QCOMPARE(readFile(path), data);
    else if (setup == Setup::TmpIsAFile)
        QCOMPARE(readFile(dir), earlier);
    else if (setup == Setup::DataIsADirectory)
        QVERIFY(QFileInfo(path).isDir());
    else if (setup == Setup::Nothing) // nor a folder made for a firmware that did not come
        QVERIFY(!QFileInfo::exists(dir));
    else
        QCOMPARE(readFile(path), earlier);

    // Only the firmware itself is left: no temporary files.
    if (QFileInfo(dir).isDir())
        QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("Data.nv")});
}

QTEST_APPLESS_MAIN(TestFirmwareStore)
#include "tst_firmwarestore.moc"
