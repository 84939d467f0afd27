// The window as a user sees it before any click: title, fixed size, where
// each text is; and its logging slots, which log readers know by name.
#include "testkit/logcapture.h"
#include "testkit/windowdriver.h"
#include "usertexts/usertexts.h"
#include "window/applicationsetup.h"
#include "window/widget.h"

#include <QLabel>
#include <QMenu>
#include <QMessageBox>
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
    void titleAndSize();
    void qtTexts();
    void arrangement();
    void loggingSlots_data();
    void loggingSlots();
};

void TestWidget::titleAndSize()
{
    Widget w;
    QCOMPARE(w.windowTitle(), UserTexts::windowTitle());
    // The icon is read once the first frame is out, not before.
    QTemporaryDir folder;
    const QString icon = folder.filePath("icon.png"), later = folder.filePath("later.png");
    QVERIFY(QImage(24, 24, QImage::Format_RGB32).save(icon)
            && QImage(32, 32, QImage::Format_RGB32).save(later));
    w.show();
    setIconAfterFirstFrame(*static_cast<QApplication *>(qApp), w, icon);
    QVERIFY(w.windowIcon().isNull());
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_COMPARE(w.windowIcon().availableSizes().value(0), QSize(24, 24));
    setIconAfterFirstFrame(*static_cast<QApplication *>(qApp), w, later);
    QTRY_COMPARE(w.windowIcon().availableSizes().value(0), QSize(32, 32));
    QCOMPARE(w.size(), QSize(314, 232));
    w.resize(600, 400);
    QCOMPARE(w.size(), QSize(314, 232));
    w.resize(100, 100);
    QCOMPARE(w.size(), QSize(314, 232));

    // Short notes fit; long ones scroll inside the notes area, both ways, and
    // never wrap or stretch the window.
    auto *area = w.findChild<QScrollArea *>(QStringLiteral("scrollArea"));
    QCOMPARE(area->horizontalScrollBar()->maximum() + area->verticalScrollBar()->maximum(), 0);
    auto *notes = w.findChild<QLabel *>(QStringLiteral("lblFirmwareDesc"));
    notes->setText(QStringLiteral("一条很长很长的固件更新说明 ").repeated(20)
                   + QStringLiteral("\r\nx").repeated(40));
    QCoreApplication::processEvents();
    QCOMPARE(w.size(), QSize(314, 232));
    QTRY_VERIFY(area->verticalScrollBar()->maximum() > 0);
    QTRY_VERIFY(area->horizontalScrollBar()->maximum() > 0);
    // Notes start at the top left; Qt tells plain text from markup, as it always has.
    QCOMPARE(notes->alignment(), Qt::AlignLeft | Qt::AlignTop);
    QCOMPARE(notes->textFormat(), Qt::AutoText);
}

// Every text of Qt's own that the window can show reads in Chinese: the
// buttons of a box, and the context menus of the notes' two scroll bars.
void TestWidget::qtTexts()
{
    Widget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.findChild<QLabel *>(QStringLiteral("lblFirmwareDesc"))
        ->setText(QStringLiteral("一条很长很长的固件更新说明 ").repeated(20)
                  + QStringLiteral("\r\nx").repeated(40));
    auto *area = w.findChild<QScrollArea *>(QStringLiteral("scrollArea"));
    QTRY_VERIFY(area->verticalScrollBar()->isVisible() && area->horizontalScrollBar()->isVisible());

    // Each menu or box that opens is read and closed.
    QStringList shown;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&shown] {
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (auto *menu = qobject_cast<QMenu *>(window); menu && menu->isVisible()) {
                for (const QAction *action : menu->actions())
                    shown << action->text();
                menu->close();
            } else if (auto *box = qobject_cast<QMessageBox *>(window); box && box->isVisible()) {
                for (const QAbstractButton *button : box->buttons())
                    shown << button->text();
                box->done(0);
            }
        }
    });
    poll.start(10);
    for (QScrollBar *bar : {area->verticalScrollBar(), area->horizontalScrollBar()}) {
        QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(2, 2),
                               bar->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(bar, &menu);
    }
    // Before any information: a box with Qt's own button.
    QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("btnUpdate")), Qt::LeftButton);
    shown.removeAll(QString()); // the menus' separators
    const QRegularExpression chinese(QStringLiteral("[\\x{4e00}-\\x{9fff}]"));
    QCOMPARE(shown.size(), 2 * 7 + 1);
    QCOMPARE(shown.filter(chinese), shown);
}

// Where the captions, their fields and the buttons are, as far as no font
// decides it: margins of 11 pixels, spacing of 6, the fields in one column
// right of every caption, and above each caption row a row that gives way
// first when space is short, so at least two spacings.
// What a reader sees: each caption on its field's row, left of it, the rows
// in order, the buttons last and side by side, all inside the window.
void TestWidget::arrangement()
{
    Widget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const auto place = [&w](const QWidget *child) {
        return QRect(child->mapTo(&w, QPoint()), child->size());
    };
    const auto named = [&](const char *name) {
        return place(w.findChild<QWidget *>(QLatin1String(name)));
    };
    QHash<QString, QRect> captions;
    for (const QLabel *label : w.findChildren<QLabel *>())
        if (!label->text().isEmpty())
            captions.insert(label->text(), place(label));
    const QList<std::pair<QRect, QRect>> rows{
        {captions.value(UserTexts::modelCaption()), named("lblDeviceType")},
        {captions.value(UserTexts::versionCaption()), named("lblFirmwareVersion")},
        {captions.value(UserTexts::notesCaption()), named("scrollArea")},
        {named("btnGetFirmWare"), named("btnUpdate")}};
    int rowTop = -1;
    for (const auto &[left, right] : rows) {
        const QByteArray row = QByteArray::number(rowTop);
        QVERIFY2(!left.isEmpty() && left.top() == right.top() && left.right() < right.left(), row);
        QVERIFY2(left.top() > rowTop, row);
        QVERIFY2(w.rect().contains(left) && w.rect().contains(right), row);
        rowTop = left.top();
    }
}

void TestWidget::loggingSlots_data()
{
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QVariant>("argument");
    QTest::addColumn<QStringList>("log");

    const auto add = [](const char *slot, const QVariant &argument, const char *logged) {
        QTest::newRow(slot) << QByteArray(slot) << argument << QStringList{logLine(logged)};
    };
    add("RecError", QVariant::fromValue(QProcess::FailedToStart), "QProcess::FailedToStart");
    add("UpdateProcError", QVariant::fromValue(QProcess::Crashed), "QProcess::Crashed");
    add("UpdateStateChange", QVariant::fromValue(QProcess::Running), "QProcess::Running");
    add("UpdateProcStart", {}, "UpdateProc Start");
    // Nothing is pending on the never-started process: an empty text.
    add("UpdateProcStanardError", {}, "\"\"");
    add("UpdateProcStandardOutput", {}, "\"\"");
    add("UpdateProcFinish", {}, "\"\"");
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

    // Only what the slot itself logs.
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
    QCOMPARE(driver.boxes(), QStringList{box(UserTexts::informationFirst())});
}

QTEST_MAIN(TestWidget)
#include "tst_widget.moc"
