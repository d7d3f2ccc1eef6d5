#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "Data.h"
#include "Parameters_dialog.h"
#include "PortAccess.h"
#include "PortDevices.h"
#include "Pty.h"
#include "SerialPortControl.h"

using settings::Parameters_dialog;

class TestParameters : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void loadShowsValuesInMemory();
    void loadWithoutPorts();
    void applySerialPort_data();
    void applySerialPort();
    void recordIntervalTakesEffectAtClose_data();
    void recordIntervalTakesEffectAtClose();
    void graphRowApplies();
    void closeSavesSixKeysThenTakesGraphBoxes();
    void closeBoxSavesNothing();
    void closeStaysOpenAndSaysWhy_data();
    void closeStaysOpenAndSaysWhy();
    void refusedEntriesKeepTheirValues_data();
    void refusedEntriesKeepTheirValues();
    void regionalDecimalComma();
    void typedEntriesTakenAsTyped_data();
    void typedEntriesTakenAsTyped();
    void listEntriesShowWhole_data();
    void listEntriesShowWhole();
    void findControllerLendsThePolledPort();

private:
    Parameters_dialog* makeDialog();
    template <typename T> T* child(Parameters_dialog* dialog, const char* name) {
        auto* widget = dialog->findChild<T*>(QLatin1String(name));
        if (!widget)
            qFatal("no control %s", name);
        return widget;
    }
    void setDefaults();
    QByteArray conf() const;
    QString confPath() const { return m_dir.filePath(QStringLiteral("conf.ini")); }

    QTemporaryDir m_dir;
    PortDevices m_devices;
    std::unique_ptr<tklink::SerialPortControl> m_port;
    QStringList m_labelsDuringOpen;
};

void TestParameters::init() {
    QVERIFY(m_dir.isValid());
    QFile::remove(confPath());
    QLocale::setDefault(QLocale::c());
    Data::resetAll();
    setDefaults();
    m_devices.clear();
    m_labelsDuringOpen.clear();
    m_port = std::make_unique<tklink::SerialPortControl>(m_devices.resolver());
}

void TestParameters::setDefaults() {
    Data::comPortNum = 1;
    Data::comPortSpeed = QStringLiteral("19200");
    Data::intervRecord = 20;
    Data::recordTimerMs = 20000;
    Data::yValueMin = 0;
    Data::yValueMax = 300;
    Data::timeScale = 10;
    Data::portAvailable.assign(Data::portCount, false);
}

Parameters_dialog* TestParameters::makeDialog() {
    Parameters_dialog::Actions actions;
    actions.openPort = [this] {
        // What the operator reads while the port opens.
        for (auto* widget : QApplication::allWidgets()) {
            if (widget->objectName() == QLatin1String("portInfoLabel"))
                m_labelsDuringOpen << static_cast<QLabel*>(widget)->text();
        }
        tklink::open_port(*m_port);
        return Data::portConnected ? QString() : m_port->lastFailure().systemText;
    };
    actions.deviceForPort = m_devices.resolver(QStringLiteral("(none)"));
    actions.settingsPath = confPath();
    actions.releasePort = [this] {
        m_port->setPortOpen(false);
        Data::portConnected = false;
    };
    auto* dialog = new Parameters_dialog(actions);
    dialog->show();
    return dialog;
}

QByteArray TestParameters::conf() const {
    QFile file(confPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestParameters::loadShowsValuesInMemory() {
    Data::portAvailable[2] = Data::portAvailable[5] = Data::portAvailable[30] = true;
    Data::portAvailable[31] = true; // found, but not offered
    m_devices[5] = QStringLiteral("/dev/ttyUSB4");
    Data::comPortNum = 42;
    Data::comPortSpeed = QStringLiteral("4800");
    Data::intervRecord = 45;
    Data::yValueMin = -20;
    Data::yValueMax = 450.5f;
    QPointer<Parameters_dialog> dialog = makeDialog();
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Parameters"));
    QCOMPARE(dialog->size(), QSize(529, 251));
    QVERIFY(!dialog->isModal());

    auto* ports = child<QComboBox>(dialog, "Combo1");
    QStringList items;
    for (int i = 0; i < ports->count(); ++i)
        items << ports->itemText(i);
    QCOMPARE(items, (QStringList{"2", "5", "30"}));
    QCOMPARE(ports->itemData(1, Qt::ToolTipRole).toString(), QStringLiteral("/dev/ttyUSB4"));
    QCOMPARE(ports->currentText(), QStringLiteral("42"));

    auto* speeds = child<QComboBox>(dialog, "Combo2");
    QCOMPARE(speeds->count(), 3);
    QCOMPARE(speeds->itemText(0), QStringLiteral("9600"));
    QCOMPARE(speeds->itemText(2), QStringLiteral("115200"));
    QCOMPARE(speeds->currentText(), QStringLiteral("4800"));
    auto* intervals = child<QComboBox>(dialog, "Combo3");
    QCOMPARE(intervals->count(), 5);
    QCOMPARE(intervals->itemText(4), QStringLiteral("240"));
    QCOMPARE(intervals->currentText(), QStringLiteral("45"));
    QCOMPARE(child<QLineEdit>(dialog, "min_box")->text(), QStringLiteral("-20"));
    QCOMPARE(child<QLineEdit>(dialog, "max_box")->text(), QStringLiteral("450.5"));
    QCOMPARE(child<QLineEdit>(dialog, "temps_box")->text(), QStringLiteral("10"));
    QCOMPARE(child<QLabel>(dialog, "portInfoLabel")->text(), QString());
    QCOMPARE(child<QPushButton>(dialog, "OKButton")->text(), QStringLiteral("Close"));
    dialog->close();
    QTRY_VERIFY(dialog.isNull()); // unloaded: the next show loads it afresh
}

void TestParameters::loadWithoutPorts() {
    Data::comPortNum = 3;
    auto* dialog = makeDialog();
    auto* ports = child<QComboBox>(dialog, "Combo1");
    QCOMPARE(ports->count(), 0);
    QCOMPARE(ports->currentText(), QStringLiteral("3"));
    // "Apply" still tries that port.
    QTest::mouseClick(child<QPushButton>(dialog, "applySerialPortButton"), Qt::LeftButton);
    QCOMPARE(m_labelsDuringOpen,
             QStringList{QStringLiteral("Try to connect to serial port 3 speed 19200")});
    QCOMPARE(child<QLabel>(dialog, "portInfoLabel")->text(),
             QStringLiteral("Connection to serial port 3 speed 19200 failed."));
    delete dialog;
}

void TestParameters::applySerialPort_data() {
    QTest::addColumn<QString>("portText");
    QTest::addColumn<QString>("speedText");
    QTest::addColumn<bool>("deviceExists");
    QTest::addColumn<QString>("label");

    QTest::newRow("pseudo-terminal opens")
        << "7"
        << "9600" << true << "Connected to serial port 7 speed 9600";
    QTest::newRow("missing device fails")
        << "8"
        << "19200" << false << "Connection to serial port 8 speed 19200 failed.";
    QTest::newRow("speed that is no number fails")
        << "7"
        << "fast" << true << "Connection to serial port 7 speed fast failed.";
    QTest::newRow("port 2.5 rounds to even 2")
        << "2.5"
        << "9600" << true << "Connected to serial port 2 speed 9600";
}

void TestParameters::applySerialPort() {
    QFETCH(QString, portText);
    QFETCH(QString, speedText);
    QFETCH(bool, deviceExists);
    QFETCH(QString, label);
    Pty pty;
    if (deviceExists) {
        m_devices[7] = pty.path();
        m_devices[2] = pty.path();
    }
    auto* dialog = makeDialog();
    child<QComboBox>(dialog, "Combo1")->setEditText(portText);
    child<QComboBox>(dialog, "Combo2")->setEditText(speedText);
    QTest::mouseClick(child<QPushButton>(dialog, "applySerialPortButton"), Qt::LeftButton);
    QCOMPARE(child<QLabel>(dialog, "portInfoLabel")->text(), label);
    QCOMPARE(Data::portConnected, label.startsWith(QLatin1String("Connected")));
    // The reason, on its own line beneath.
    QCOMPARE(child<QLabel>(dialog, "portReasonLabel")->text(),
             Data::portConnected ? QString() : m_port->lastFailure().systemText);
    QCOMPARE(m_port->portOpen(), Data::portConnected);
    QCOMPARE(Data::comPortSpeed, speedText);
    QVERIFY(!QFile::exists(confPath())); // saved only at "Close"
    delete dialog;
}

void TestParameters::recordIntervalTakesEffectAtClose_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("periodMs");
    QTest::newRow("60 s") << 2 << 60000;
    QTest::newRow("120 s") << 3 << 120000;
    QTest::newRow("240 s") << 4 << 240000;
}

void TestParameters::recordIntervalTakesEffectAtClose() {
    QFETCH(int, row);
    QFETCH(int, periodMs);
    auto* dialog = makeDialog();
    child<QComboBox>(dialog, "Combo3")->setCurrentIndex(row);
    QTest::mouseClick(child<QPushButton>(dialog, "Command3"), Qt::LeftButton);
    QCOMPARE(int(Data::intervRecord), periodMs / 1000);
    QCOMPARE(Data::recordTimerMs, 20000);
    QTest::mouseClick(child<QPushButton>(dialog, "OKButton"), Qt::LeftButton);
    QCOMPARE(Data::recordTimerMs, periodMs);
    QVERIFY(conf().contains("interv_record=" + QByteArray::number(periodMs / 1000) + "\n"));
}

void TestParameters::graphRowApplies() {
    auto* dialog = makeDialog();
    child<QLineEdit>(dialog, "min_box")->setText(QStringLiteral("50"));
    child<QLineEdit>(dialog, "max_box")->setText(QStringLiteral("20"));
    child<QLineEdit>(dialog, "temps_box")->setText(QStringLiteral("-3"));
    QTest::mouseClick(child<QPushButton>(dialog, "Apply"), Qt::LeftButton);
    // No range check: a minimum above the maximum, a negative scale are taken.
    QCOMPARE(Data::yValueMin, 50.0f);
    QCOMPARE(Data::yValueMax, 20.0f);
    QCOMPARE(Data::timeScale, -3.0f);
    QVERIFY(!QFile::exists(confPath()));
    delete dialog;
}

void TestParameters::closeSavesSixKeysThenTakesGraphBoxes() {
    {
        QFile file(confPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("; kept\n[Ports]\n1=/dev/ttyUSB0\n");
    }
    auto* dialog = makeDialog();
    child<QLineEdit>(dialog, "min_box")->setText(QStringLiteral("250"));
    child<QComboBox>(dialog, "Combo1")->setEditText(QStringLiteral("9")); // not applied: dropped
    QTest::mouseClick(child<QPushButton>(dialog, "OKButton"), Qt::LeftButton);
    QCOMPARE(Data::yValueMin, 250.0f);
    QCOMPARE(Data::comPortNum, int16_t(1));
    QCOMPARE(conf(), QByteArray("; kept\n[Ports]\n1=/dev/ttyUSB0\n[TK840 TK960 PC control]\n"
                                "ComPortNum=1\nComPortSpeed=19200\ninterv_record=20\n"
                                "Yvaluemin=0\nYvaluemax=300\nEchelle_Temps=10\n"));
}

void TestParameters::closeBoxSavesNothing() {
    QPointer<Parameters_dialog> dialog = makeDialog();
    child<QComboBox>(dialog, "Combo3")->setEditText(QStringLiteral("120"));
    QTest::mouseClick(child<QPushButton>(dialog, "Command3"), Qt::LeftButton);
    child<QLineEdit>(dialog, "max_box")->setText(QStringLiteral("999"));
    dialog->close(); // the window's close box
    QTRY_VERIFY(dialog.isNull());
    QVERIFY(!QFile::exists(confPath()));
    QCOMPARE(Data::recordTimerMs, 20000);
    QCOMPARE(int(Data::intervRecord), 120); // what "Apply" put in stays
    QCOMPARE(Data::yValueMax, 300.0f);
}

void TestParameters::closeStaysOpenAndSaysWhy_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("confIsFolder");
    QTest::addColumn<QString>("message");

    QTest::newRow("maximum unreadable: nothing saved or taken")
        << "max_box"
        << "hot" << false << "Not saved: Maximum \"hot\" is not a number";
    QTest::newRow("time scale empty: nothing saved or taken")
        << "temps_box"
        << "" << false << "Not saved: Time scale \"\" is not a number";
    QTest::newRow("file cannot be written: the reason, values kept in memory")
        << "max_box"
        << "400" << true << "Not saved: %1: ";
}

void TestParameters::closeStaysOpenAndSaysWhy() {
    QFETCH(QString, box);
    QFETCH(QString, entry);
    QFETCH(bool, confIsFolder);
    QFETCH(QString, message);
    if (confIsFolder)
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("conf.ini")));
    QPointer<Parameters_dialog> dialog = makeDialog();
    child<QComboBox>(dialog, "Combo3")->setEditText(QStringLiteral("60"));
    QTest::mouseClick(child<QPushButton>(dialog, "Command3"), Qt::LeftButton);
    child<QLineEdit>(dialog, "min_box")->setText(QStringLiteral("250"));
    dialog->findChild<QLineEdit*>(box)->setText(entry);
    QTest::mouseClick(child<QPushButton>(dialog, "OKButton"), Qt::LeftButton);

    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!dialog.isNull());
    QVERIFY(dialog->isVisible());
    const QString said = child<QLabel>(dialog, "refusedLabel")->text();
    const QString expected =
        confIsFolder ? message.arg(QDir::toNativeSeparators(confPath())) : message;
    QVERIFY2(said.startsWith(expected), qPrintable(said));
    QCOMPARE(QFileInfo(confPath()).isFile(), false);
    // A refused entry stops "Close" before anything is taken; a failed save
    // leaves in force what "Close" took.
    QCOMPARE(Data::yValueMin, confIsFolder ? 250.0f : 0.0f);
    QCOMPARE(Data::recordTimerMs, confIsFolder ? 60000 : 20000);
    dialog->close(); // the close box still closes it
    QTRY_VERIFY(dialog.isNull());
    QDir(m_dir.path()).rmdir(QStringLiteral("conf.ini"));
}

void TestParameters::refusedEntriesKeepTheirValues_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shownAgain");

    QTest::newRow("port letters") << "Combo1"
                                  << "applySerialPortButton"
                                  << "abc"
                                  << "portInfoLabel"
                                  << "1";
    QTest::newRow("port empty") << "Combo1"
                                << "applySerialPortButton"
                                << ""
                                << "portInfoLabel"
                                << "1";
    QTest::newRow("port beyond 16 bits") << "Combo1"
                                         << "applySerialPortButton"
                                         << "70000"
                                         << "portInfoLabel"
                                         << "1";
    QTest::newRow("interval letters") << "Combo3"
                                      << "Command3"
                                      << "soon"
                                      << "refusedLabel"
                                      << "20";
    QTest::newRow("interval beyond 16 bits") << "Combo3"
                                             << "Command3"
                                             << "40000"
                                             << "refusedLabel"
                                             << "20";
    QTest::newRow("maximum letters") << "max_box"
                                     << "Apply"
                                     << "hot"
                                     << "refusedLabel"
                                     << "300";
    QTest::newRow("time scale empty") << "temps_box"
                                      << "Apply"
                                      << ""
                                      << "refusedLabel"
                                      << "10";
    QTest::newRow("minimum beyond float") << "min_box"
                                          << "Apply"
                                          << "1e99"
                                          << "refusedLabel"
                                          << "0";
}

void TestParameters::refusedEntriesKeepTheirValues() {
    QFETCH(QString, control);
    QFETCH(QString, button);
    QFETCH(QString, entry);
    QFETCH(QString, message);
    QFETCH(QString, shownAgain);
    auto* dialog = makeDialog();
    auto* widget = dialog->findChild<QWidget*>(control);
    if (auto* combo = qobject_cast<QComboBox*>(widget))
        combo->setEditText(entry);
    else
        static_cast<QLineEdit*>(widget)->setText(entry);
    QTest::mouseClick(dialog->findChild<QPushButton*>(button), Qt::LeftButton);

    QVERIFY(m_labelsDuringOpen.isEmpty()); // a refused port is not tried
    QCOMPARE(Data::comPortNum, int16_t(1));
    QCOMPARE(Data::intervRecord, int16_t(20));
    QCOMPARE(Data::yValueMin, 0.0f);
    QCOMPARE(Data::yValueMax, 300.0f);
    QCOMPARE(Data::timeScale, 10.0f);
    const QString said = child<QLabel>(dialog, message.toLatin1().constData())->text();
    QVERIFY2(said.contains(QLatin1String("refused")), qPrintable(said));
    if (auto* combo = qobject_cast<QComboBox*>(widget))
        QCOMPARE(combo->currentText(), shownAgain);
    else
        QCOMPARE(static_cast<QLineEdit*>(widget)->text(), shownAgain);
    delete dialog;
}

void TestParameters::regionalDecimalComma() {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    Data::yValueMax = 312.5f;
    auto* dialog = makeDialog();
    QCOMPARE(child<QLineEdit>(dialog, "max_box")->text(), QStringLiteral("312,5"));
    child<QLineEdit>(dialog, "min_box")->setText(QStringLiteral("-12,5"));
    QTest::mouseClick(child<QPushButton>(dialog, "OKButton"), Qt::LeftButton);
    QCOMPARE(Data::yValueMin, -12.5f);
    // The file keeps "." so that the value reads back whole.
    QVERIFY(conf().contains("Yvaluemax=312.5\n"));
}

void TestParameters::typedEntriesTakenAsTyped_data() {
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("typed");

    // Each typed text is the start of an entry of its list.
    QTest::newRow("interval 2, list has 240") << "Combo3"
                                              << "Command3"
                                              << "2";
    QTest::newRow("interval 12, list has 120") << "Combo3"
                                               << "Command3"
                                               << "12";
    QTest::newRow("speed 1, list has 19200") << "Combo2"
                                             << "applySerialPortButton"
                                             << "1";
    QTest::newRow("port 1, list has 10") << "Combo1"
                                         << "applySerialPortButton"
                                         << "1";
}

void TestParameters::typedEntriesTakenAsTyped() {
    QFETCH(QString, list);
    QFETCH(QString, button);
    QFETCH(QString, typed);
    Data::portAvailable[10] = true;
    auto* dialog = makeDialog();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    auto* combo = dialog->findChild<QComboBox*>(list);
    combo->setFocus();
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo, typed);
    QTest::mouseClick(dialog->findChild<QPushButton*>(button), Qt::LeftButton);
    QCOMPARE(combo->currentText(), typed);
    if (list == QLatin1String("Combo3"))
        QCOMPARE(QString::number(Data::intervRecord), typed);
    else if (list == QLatin1String("Combo2"))
        QCOMPARE(Data::comPortSpeed, typed);
    else
        QCOMPARE(QString::number(Data::comPortNum), typed);
    delete dialog;
}

void TestParameters::listEntriesShowWhole_data() {
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("entry");
    QTest::newRow("speed 115200") << "Combo2"
                                  << "115200";
    QTest::newRow("interval 240") << "Combo3"
                                  << "240";
    QTest::newRow("port 30") << "Combo1"
                             << "30";
}

void TestParameters::listEntriesShowWhole() {
    // A list too narrow for its entry scrolls it to keep the cursor in view:
    // the entry then draws differently with the cursor at its end and at its
    // start. Drawn whole, both are the same picture.
    QFETCH(QString, list);
    QFETCH(QString, entry);
    Data::portAvailable[30] = true;
    auto* dialog = makeDialog();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QLineEdit* edit = dialog->findChild<QComboBox*>(list)->lineEdit();
    child<QPushButton>(dialog, "OKButton")->setFocus(); // no cursor drawn in the list
    edit->setText(entry);
    edit->setCursorPosition(0);
    const QImage atStart = edit->grab().toImage();
    edit->setCursorPosition(int(entry.size()));
    QCOMPARE(edit->grab().toImage(), atStart);
    delete dialog;
}

QTEST_MAIN(TestParameters)
void TestParameters::findControllerLendsThePolledPort() {
    // Stopped before its first try: the port comes back whatever the outcome.
    Pty pty;
    m_devices[1] = pty.path();
    tklink::open_port(*m_port);
    QVERIFY(Data::portConnected);
    Parameters_dialog* dialog = makeDialog();
    auto* find = child<QPushButton>(dialog, "findButton");
    QCOMPARE(find->text(), QStringLiteral("Find controller"));
    QTest::mouseClick(find, Qt::LeftButton);
    QVERIFY(!m_port->portOpen());
    QVERIFY(!child<QPushButton>(dialog, "applySerialPortButton")->isEnabled());
    QTest::mouseClick(find, Qt::LeftButton);
    QVERIFY(m_port->portOpen());
    QVERIFY(Data::portConnected);
    QCOMPARE(find->text(), QStringLiteral("Find controller"));
    QCOMPARE(child<QLabel>(dialog, "portInfoLabel")->text(),
             QStringLiteral("Search stopped after 0 tries"));
    delete dialog;
}

#include "tst_parameters.moc"
