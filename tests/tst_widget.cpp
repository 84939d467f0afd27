// The window as built: title, fixed size, object tree, texts, wiring and the
// slot table that the form's by-name connections and the log depend on.
#include "support/logcapture.h"
#include "support/windowdriver.h"
#include "window/applicationsetup.h"
#include "window/widget.h"

#include <QFormLayout>
#include <QLabel>
#include <QMargins>
#include <QMetaMethod>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QtTest>

Q_DECLARE_METATYPE(QProcess::ProcessError)
Q_DECLARE_METATYPE(QProcess::ProcessState)

class TestWidget : public QObject
{
    Q_OBJECT

private slots:
    // The window as it reads with Qt's own Chinese texts loaded, as the tool loads them.
    void initTestCase() { prepareApplication(*static_cast<QApplication *>(qApp)); }
    void title();
    void sizeIsFixed();
    void objectTree_data();
    void objectTree();
    void formRows_data();
    void formRows();
    void layoutSpacing_data();
    void layoutSpacing();
    void texts_data();
    void texts();
    void slotTable();
    void connections_data();
    void connections();
    void loggingSlots_data();
    void loggingSlots();
};

void TestWidget::title()
{
    Widget w;
    QCOMPARE(w.windowTitle(), QStringLiteral("NV38K升级工具V1.5"));
    QCOMPARE(w.objectName(), QStringLiteral("Widget"));
    QCOMPARE(w.metaObject()->className(), "Widget");
}

void TestWidget::sizeIsFixed()
{
    Widget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.size(), QSize(314, 232));
    w.resize(600, 400);
    QCOMPARE(w.size(), QSize(314, 232));
    QCOMPARE(w.minimumSize(), QSize(314, 232));
    QCOMPARE(w.maximumSize(), QSize(314, 232));
    QCOMPARE(w.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(w.sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(w.sizePolicy().horizontalStretch(), 0);
    QCOMPARE(w.sizePolicy().verticalStretch(), 0);

    // Long notes scroll inside the notes area; they never stretch the window.
    auto *notes = w.findChild<QLabel *>(QStringLiteral("lblFirmwareDesc"));
    notes->setText(QStringLiteral("一条很长很长的固件更新说明 ").repeated(20)
                   + QStringLiteral("\r\nx").repeated(40));
    QCoreApplication::processEvents();
    QCOMPARE(w.size(), QSize(314, 232));
    QCOMPARE(notes->wordWrap(), false);
    auto *area = w.findChild<QScrollArea *>(QStringLiteral("scrollArea"));
    QVERIFY(area->widgetResizable());
    QCOMPARE(area->minimumSize(), QSize(0, 120));
    QTRY_VERIFY(area->verticalScrollBar()->maximum() > 0);
    QTRY_VERIFY(area->horizontalScrollBar()->maximum() > 0);
}

void TestWidget::objectTree_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");

    const QString window = QStringLiteral("Widget");
    const QString contents = QStringLiteral("scrollAreaWidgetContents");
    QTest::newRow("label_2") << "label_2"
                             << "QLabel" << window;
    QTest::newRow("lblDeviceType") << "lblDeviceType"
                                   << "QLabel" << window;
    QTest::newRow("label_3") << "label_3"
                             << "QLabel" << window;
    QTest::newRow("lblFirmwareVersion") << "lblFirmwareVersion"
                                        << "QLabel" << window;
    QTest::newRow("label_4") << "label_4"
                             << "QLabel" << window;
    QTest::newRow("scrollArea") << "scrollArea"
                                << "QScrollArea" << window;
    // The scroll area reparents its contents to its viewport.
    QTest::newRow("contents") << contents << "QWidget"
                              << "qt_scrollarea_viewport";
    QTest::newRow("lblFirmwareDesc") << "lblFirmwareDesc"
                                     << "QLabel" << contents;
    QTest::newRow("btnGetFirmWare") << "btnGetFirmWare"
                                    << "QPushButton" << window;
    QTest::newRow("btnUpdate") << "btnUpdate"
                               << "QPushButton" << window;
    QTest::newRow("verticalLayout_2") << "verticalLayout_2"
                                      << "QVBoxLayout" << window;
    QTest::newRow("formLayout") << "formLayout"
                                << "QFormLayout"
                                << "verticalLayout_2";
    QTest::newRow("horizontalLayout") << "horizontalLayout"
                                      << "QHBoxLayout"
                                      << "verticalLayout_2";
    QTest::newRow("verticalLayout") << "verticalLayout"
                                    << "QVBoxLayout" << contents;
}

void TestWidget::objectTree()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);

    Widget w;
    const QList<QObject *> matches = w.findChildren<QObject *>(name);
    QCOMPARE(matches.size(), 1);
    QCOMPARE(QString::fromLatin1(matches.first()->metaObject()->className()), className);
    QCOMPARE(matches.first()->parent()->objectName(), parentName);
}

void TestWidget::formRows_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("field");

    // An empty label name stands for a 20 x 40 vertical spacer.
    QTest::newRow("0") << 0 << QString() << QString();
    QTest::newRow("1") << 1 << "label_2"
                       << "lblDeviceType";
    QTest::newRow("2") << 2 << QString() << QString();
    QTest::newRow("3") << 3 << "label_3"
                       << "lblFirmwareVersion";
    QTest::newRow("4") << 4 << QString() << QString();
    QTest::newRow("5") << 5 << "label_4"
                       << "scrollArea";
}

void TestWidget::formRows()
{
    QFETCH(int, row);
    QFETCH(QString, label);
    QFETCH(QString, field);

    Widget w;
    auto *form = w.findChild<QFormLayout *>(QStringLiteral("formLayout"));
    QCOMPARE(form->rowCount(), 6);
    QLayoutItem *labelItem = form->itemAt(row, QFormLayout::LabelRole);
    QLayoutItem *fieldItem = form->itemAt(row, QFormLayout::FieldRole);
    if (label.isEmpty()) {
        QSpacerItem *spacer = labelItem->spacerItem();
        QVERIFY(spacer);
        QCOMPARE(spacer->sizeHint(), QSize(20, 40));
        QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Minimum);
        QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
        QVERIFY(!fieldItem);
    } else {
        QCOMPARE(labelItem->widget()->objectName(), label);
        QCOMPARE(fieldItem->widget()->objectName(), field);
    }
}

void TestWidget::layoutSpacing_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("margin");

    // Nested layouts keep the style's defaults, which are zero inside a layout.
    QTest::newRow("verticalLayout_2") << "verticalLayout_2" << 11;
    QTest::newRow("formLayout") << "formLayout" << 0;
    QTest::newRow("verticalLayout") << "verticalLayout" << 11;
    QTest::newRow("horizontalLayout") << "horizontalLayout" << 0;
}

void TestWidget::layoutSpacing()
{
    QFETCH(QString, name);
    QFETCH(int, margin);

    Widget w;
    auto *layout = w.findChild<QLayout *>(name);
    QVERIFY(layout);
    QCOMPARE(layout->spacing(), 6);
    QCOMPARE(layout->contentsMargins(), QMargins(margin, margin, margin, margin));
}

void TestWidget::texts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");

    QTest::newRow("label_2") << "label_2" << QStringLiteral("设备型号");
    QTest::newRow("lblDeviceType") << "lblDeviceType" << QString();
    QTest::newRow("label_3") << "label_3" << QStringLiteral("固件版本");
    QTest::newRow("lblFirmwareVersion") << "lblFirmwareVersion" << QString();
    QTest::newRow("label_4") << "label_4" << QStringLiteral("固件更新说明");
    QTest::newRow("lblFirmwareDesc") << "lblFirmwareDesc" << QString();
    QTest::newRow("btnGetFirmWare") << "btnGetFirmWare" << QStringLiteral("获取固件信息");
    QTest::newRow("btnUpdate") << "btnUpdate" << QStringLiteral("下载固件");
}

void TestWidget::texts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);

    Widget w;
    QWidget *child = w.findChild<QWidget *>(name);
    QVERIFY(child);
    QVERIFY(child->isEnabled());
    if (auto *label = qobject_cast<QLabel *>(child)) {
        QCOMPARE(label->text(), text);
        QCOMPARE(label->textFormat(), Qt::AutoText);
        QCOMPARE(label->wordWrap(), false);
    } else {
        QCOMPARE(qobject_cast<QPushButton *>(child)->text(), text);
    }
    if (name == QLatin1String("lblFirmwareDesc"))
        QCOMPARE(qobject_cast<QLabel *>(child)->alignment(), Qt::AlignLeft | Qt::AlignTop);
}

void TestWidget::slotTable()
{
    const QStringList expected = {
        QStringLiteral("on_btnUpdate_clicked()"),
        QStringLiteral("readResult(int)"),
        QStringLiteral("ProcStart()"),
        QStringLiteral("ProcError(QProcess::ProcessError)"),
        QStringLiteral("RecError(QProcess::ProcessError)"),
        QStringLiteral("finishedSlot(QNetworkReply*)"),
        QStringLiteral("FinishedGetFirmware(QNetworkReply*)"),
        QStringLiteral("on_btnGetFirmWare_clicked()"),
        QStringLiteral("UpdateProcError(QProcess::ProcessError)"),
        QStringLiteral("UpdateProcStanardError()"),
        QStringLiteral("UpdateProcStandardOutput()"),
        QStringLiteral("UpdateProcFinish()"),
        QStringLiteral("UpdateProcStart()"),
        QStringLiteral("UpdateStateChange(QProcess::ProcessState)"),
    };

    const QMetaObject &meta = Widget::staticMetaObject;
    QCOMPARE(meta.superClass(), &QWidget::staticMetaObject);
    QStringList actual;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Private);
        QCOMPARE(method.methodIndex() - meta.methodOffset(), actual.size());
        actual.append(QString::fromLatin1(method.methodSignature()));
    }
    QCOMPARE(actual, expected);
    QCOMPARE(meta.propertyCount(), meta.propertyOffset());
}

void TestWidget::connections_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QByteArray>("signal");
    QTest::addColumn<QByteArray>("slot");

    QTest::newRow("firmware reply")
        << "firmwareManager" << QByteArray(SIGNAL(finished(QNetworkReply *)))
        << QByteArray(SLOT(FinishedGetFirmware(QNetworkReply *)));
    QTest::newRow("info reply") << "infoManager" << QByteArray(SIGNAL(finished(QNetworkReply *)))
                                << QByteArray(SLOT(finishedSlot(QNetworkReply *)));
    QTest::newRow("listing finished")
        << "listProcess" << QByteArray(SIGNAL(finished(int))) << QByteArray(SLOT(readResult(int)));
    QTest::newRow("listing started")
        << "listProcess" << QByteArray(SIGNAL(started())) << QByteArray(SLOT(ProcStart()));
    QTest::newRow("listing error")
        << "listProcess" << QByteArray(SIGNAL(error(QProcess::ProcessError)))
        << QByteArray(SLOT(ProcError(QProcess::ProcessError)));
    QTest::newRow("update button")
        << "btnUpdate" << QByteArray(SIGNAL(clicked())) << QByteArray(SLOT(on_btnUpdate_clicked()));
    QTest::newRow("info button") << "btnGetFirmWare" << QByteArray(SIGNAL(clicked()))
                                 << QByteArray(SLOT(on_btnGetFirmWare_clicked()));
}

void TestWidget::connections()
{
    QFETCH(QString, sender);
    QFETCH(QByteArray, signal);
    QFETCH(QByteArray, slot);

    Widget w;
    // The window creates its helpers in a fixed order; name them by it.
    const auto managers =
        w.findChildren<QNetworkAccessManager *>(QString(), Qt::FindDirectChildrenOnly);
    const auto processes = w.findChildren<QProcess *>(QString(), Qt::FindDirectChildrenOnly);
    QCOMPARE(managers.size(), 2);
    QCOMPARE(processes.size(), 2);
    const QHash<QString, QObject *> senders = {
        {QStringLiteral("infoManager"), managers.at(0)},
        {QStringLiteral("firmwareManager"), managers.at(1)},
        {QStringLiteral("listProcess"), processes.at(0)},
        {QStringLiteral("btnUpdate"), w.findChild<QPushButton *>(QStringLiteral("btnUpdate"))},
        {QStringLiteral("btnGetFirmWare"),
         w.findChild<QPushButton *>(QStringLiteral("btnGetFirmWare"))},
    };

    // Disconnecting succeeds exactly once when there was exactly one connection.
    QObject *source = senders.value(sender);
    QVERIFY(QObject::disconnect(source, signal.constData(), &w, slot.constData()));
    QVERIFY(!QObject::disconnect(source, signal.constData(), &w, slot.constData()));

    // Nothing is wired to the second process.
    QObject *updateProcess = processes.at(1);
    QVERIFY(!QObject::disconnect(updateProcess, nullptr, &w, nullptr));
}

void TestWidget::loggingSlots_data()
{
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QVariant>("argument");
    QTest::addColumn<QStringList>("log");

    const QVariant none;
    QTest::newRow("RecError") << QByteArray("RecError")
                              << QVariant::fromValue(QProcess::FailedToStart)
                              << QStringList{QStringLiteral("default: QProcess::FailedToStart")};
    QTest::newRow("UpdateProcError")
        << QByteArray("UpdateProcError") << QVariant::fromValue(QProcess::Crashed)
        << QStringList{QStringLiteral("default: QProcess::Crashed")};
    QTest::newRow("UpdateStateChange")
        << QByteArray("UpdateStateChange") << QVariant::fromValue(QProcess::Running)
        << QStringList{QStringLiteral("default: QProcess::Running")};
    QTest::newRow("UpdateProcStart") << QByteArray("UpdateProcStart") << none
                                     << QStringList{QStringLiteral("default: UpdateProc Start")};
    // Nothing is pending on the never-started process: an empty text.
    const QStringList empty{QStringLiteral("default: \"\"")};
    QTest::newRow("UpdateProcStanardError")
        << QByteArray("UpdateProcStanardError") << none << empty;
    QTest::newRow("UpdateProcStandardOutput")
        << QByteArray("UpdateProcStandardOutput") << none << empty;
    QTest::newRow("UpdateProcFinish") << QByteArray("UpdateProcFinish") << none << empty;
}

void TestWidget::loggingSlots()
{
    QFETCH(QByteArray, slot);
    QFETCH(QVariant, argument);
    QFETCH(QStringList, log);

    WindowDriver driver;
    QVERIFY(driver.isReady());
    Widget &w = driver.window();
    // Everything a user could see or use, and whether the processes run.
    const auto snapshot = [&w] {
        QStringList state{w.windowTitle()};
        for (const QWidget *widget : w.findChildren<QWidget *>()) {
            const QVariant text = widget->property("text");
            state.append(QStringLiteral("%1 %2 %3 %4 %5")
                             .arg(widget->objectName(), text.toString())
                             .arg(widget->isEnabled())
                             .arg(widget->isVisible())
                             .arg(widget->geometry().width()));
        }
        for (const QProcess *process : w.findChildren<QProcess *>())
            state.append(QString::number(process->state()) + QString::number(process->isOpen()));
        return state;
    };
    const QStringList before = snapshot();

    LogCapture capture;
    bool invoked = false;
    if (!argument.isValid())
        invoked = QMetaObject::invokeMethod(&w, slot.constData());
    else if (argument.userType() == qMetaTypeId<QProcess::ProcessError>())
        invoked = QMetaObject::invokeMethod(
            &w, slot.constData(),
            Q_ARG(QProcess::ProcessError, argument.value<QProcess::ProcessError>()));
    else
        invoked = QMetaObject::invokeMethod(
            &w, slot.constData(),
            Q_ARG(QProcess::ProcessState, argument.value<QProcess::ProcessState>()));
    QVERIFY(invoked);
    QCOMPARE(capture.lines(QtDebugMsg), log);
    QCOMPARE(capture.lines(QtWarningMsg), QStringList());
    QCOMPARE(snapshot(), before);
    QCOMPARE(driver.boxes(), QStringList());

    // Still no firmware address: the download is refused as before.
    driver.click("btnUpdate");
    QCOMPARE(driver.boxes(), QStringList{box("warning", "警告", "请先获取固件信息后再试")});
}

QTEST_MAIN(TestWidget)
#include "tst_widget.moc"
