// Reading the server's "Version.txt": line splitting, keys, values, failures.
#include "server/versioninfo.h"

#include <QTextCodec>
#include <QtTest>

using Status = VersionInfo::Status;
Q_DECLARE_METATYPE(VersionInfo::Status)

class TestVersionInfo : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void decodesGbk();
};

void TestVersionInfo::parse_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Status>("status");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("notes");

    const QString none;
    QTest::newRow("typical") << QByteArray(
        "[Device]=K1\r\n[Version]=2.0\r\n[Desc]=first note\r\n[Desc]=second note\r\n")
                             << Status::Valid << "K1"
                             << "2.0"
                             << "first note\r\nsecond note";
    QTest::newRow("no notes, no final line end")
        << QByteArray("[Device]=K1\r\n[Version]=2.0") << Status::Valid << "K1"
        << "2.0" << none;
    QTest::newRow("other lines ignored") << QByteArray(
        "[Device]=K1\r\n[Version]=2.0\r\n\r\nnoise\r\n[Desc]=a=b\r\n[Desc]=kept\r\n[desc]=no")
                                         << Status::Valid << "K1"
                                         << "2.0"
                                         << "kept";
    QTest::newRow("empty notes lines")
        << QByteArray("[Device]=K1\r\n[Version]=2.0\r\n[Desc]=\r\n[Desc]=\r\n") << Status::Valid
        << "K1"
        << "2.0"
        << "\r\n";
    QTest::newRow("key only has to begin with the tag")
        << QByteArray("[Device]x=K1\r\n[Version] v=2.0\r\n[Desc]1=n") << Status::Valid << "K1"
        << "2.0"
        << "n";
    QTest::newRow("values verbatim")
        << QByteArray("[Device]= K 1 \r\n[Version]=\t2.0\r\r\n[Desc]= <b>x</b> ") << Status::Valid
        << " K 1 "
        << "\t2.0\r"
        << " <b>x</b> ";
    QTest::newRow("empty values") << QByteArray("[Device]=\r\n[Version]=") << Status::Valid << none
                                  << none << none;

    QTest::newRow("empty body") << QByteArray() << Status::BadDeviceLine << none << none << none;
    QTest::newRow("LF line ends make one line") << QByteArray("[Device]=K1\n[Version]=2.0\n")
                                                << Status::BadDeviceLine << none << none << none;
    QTest::newRow("three parts") << QByteArray("[Device]=A=B\r\n[Version]=2.0")
                                 << Status::BadDeviceLine << none << none << none;
    QTest::newRow("no separator") << QByteArray("[Device]K1\r\n[Version]=2.0")
                                  << Status::BadDeviceLine << none << none << none;
    QTest::newRow("keys are case-sensitive") << QByteArray("[device]=K1\r\n[Version]=2.0")
                                             << Status::BadDeviceLine << none << none << none;
    QTest::newRow("blank before the key") << QByteArray(" [Device]=K1\r\n[Version]=2.0")
                                          << Status::BadDeviceLine << none << none << none;
    QTest::newRow("lines swapped") << QByteArray("[Version]=2.0\r\n[Device]=K1")
                                   << Status::BadDeviceLine << none << none << none;
    QTest::newRow("redirect page") << QByteArray("<html><body><h1>302 Found</h1></body></html>\n")
                                   << Status::BadDeviceLine << none << none << none;
    QTest::newRow("binary garbage") << QByteArray("\x00\xff\xfe=\x81\x30\r\n\x80", 9)
                                    << Status::BadDeviceLine << none << none << none;

    QTest::newRow("one line, no line end")
        << QByteArray("[Device]=K1") << Status::BadVersionLine << "K1" << none << none;
    QTest::newRow("one line and a line end")
        << QByteArray("[Device]=K1\r\n") << Status::BadVersionLine << "K1" << none << none;
    QTest::newRow("version not second") << QByteArray("[Device]=K1\r\n[Desc]=x\r\n[Version]=2.0")
                                        << Status::BadVersionLine << "K1" << none << none;
    QTest::newRow("version with three parts") << QByteArray("[Device]=K1\r\n[Version]=2=0")
                                              << Status::BadVersionLine << "K1" << none << none;
}

void TestVersionInfo::parse()
{
    QFETCH(QByteArray, body);
    QFETCH(Status, status);
    QFETCH(QString, model);
    QFETCH(QString, version);
    QFETCH(QString, notes);

    const VersionInfo info = parseVersionInfo(body);
    QCOMPARE(info.status, status);
    QCOMPARE(info.deviceModel, model);
    QCOMPARE(info.version, version);
    QCOMPARE(info.notes, notes);
}

void TestVersionInfo::decodesGbk()
{
    // "[Device]=键盘" etc. as the vendor's Windows tools write it.
    const QString text = QStringLiteral(
        "[Device]=键盘K1\r\n[Version]=二.0\r\n[Desc]=修复按键失灵\r\n[Desc]=提升稳定性");
    const QByteArray gbk = QTextCodec::codecForName("GBK")->fromUnicode(text);
    QVERIFY(gbk.startsWith("[Device]=\xbc\xfc\xc5\xcc"
                           "K1")); // 键盘 in GBK, not UTF-8

    const VersionInfo info = parseVersionInfo(gbk);
    QCOMPARE(info.status, Status::Valid);
    QCOMPARE(info.deviceModel, QStringLiteral("键盘K1"));
    QCOMPARE(info.version, QStringLiteral("二.0"));
    QCOMPARE(info.notes, QStringLiteral("修复按键失灵\r\n提升稳定性"));
}

QTEST_APPLESS_MAIN(TestVersionInfo)
#include "tst_versioninfo.moc"
