#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include "Data.h"
#include "Parameters_dialog.h"

#include <cstdio>

// "Close" killed at any moment leaves conf.ini with the six old values or the
// six new ones, never a mix. A child presses "Close" again and again with two
// sets of values in turn and is killed at a random moment, TK_KILL_LOOPS times
// (default 100).

namespace {

struct Six {
    int16_t port;
    const char* speed;
    int16_t interval;
    float yMin;
    float yMax;
    float scale;
};

const Six setA{1, "19200", 20, 0, 300, 10};
const Six setB{7, "115200", 240, 2000, 1000, 40};

// Lines of every kind around the section, with both line endings and no
// ending on the last line: none of them may change.
QByteArray confFor(const Six& six) {
    const auto n = [](double v) { return QByteArray::number(v); };
    return "; operator's note\r\n[TK840 TK960 PC control]\nComPortNum=" + n(six.port) +
           "\r\nComPortSpeed=" + QByteArray(six.speed) + "\ninterv_record=" + n(six.interval) +
           "\r\nYvaluemin=" + n(six.yMin) + "\nYvaluemax=" + n(six.yMax) +
           "\nEchelle_Temps=" + n(six.scale) + "\r\n\n[Ports]\n7=/dev/ttyUSB0";
}

// The child: "Close" with B, then A, and so on until killed; a line after each.
[[noreturn]] void pressCloseForever(const QString& folder) {
    QDir::setCurrent(folder);
    Data::resetAll();
    for (quint64 round = 0;; ++round) {
        const Six& six = round % 2 == 0 ? setB : setA;
        Data::comPortNum = six.port;
        Data::comPortSpeed = QLatin1String(six.speed);
        Data::intervRecord = six.interval;
        Data::yValueMin = six.yMin; // shown in the graph boxes, taken back at "Close"
        Data::yValueMax = six.yMax;
        Data::timeScale = six.scale;
        settings::Parameters_dialog dialog({});
        dialog.findChild<QPushButton*>(QStringLiteral("OKButton"))->click();
        std::fputs("closed\n", stdout);
        std::fflush(stdout);
    }
}

} // namespace

class TestCloseKill : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void killedCloseLeavesOldOrNewSix();
};

void TestCloseKill::killedCloseLeavesOldOrNewSix() {
    const int loops = qEnvironmentVariableIsSet("TK_KILL_LOOPS")
                          ? qEnvironmentVariableIntValue("TK_KILL_LOOPS")
                          : 100;
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("conf.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(confFor(setA));
    file.close();
    int sawOld = 0;
    int sawNew = 0;
    qint64 closeNs = 0;
    for (int loop = 0; loop < loops; ++loop) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--close-forever"), dir.path()});
        // The first "Close" done (the first ten more, timed, on the first
        // run): the kill lands at a random moment within the next two.
        // Spinning rather than sleeping keeps it to the microsecond.
        QElapsedTimer round;
        for (int closes = 0; closes < (closeNs == 0 ? 11 : 1); ++closes) {
            while (!child.canReadLine())
                QVERIFY2(child.waitForReadyRead(10000), "the child never closed the dialog");
            child.readLine();
            if (closes == 0)
                round.start();
        }
        if (closeNs == 0)
            closeNs = std::max<qint64>(round.nsecsElapsed() / 10, 1000);
        const auto delay = qint64(QRandomGenerator::global()->bounded(quint64(2 * closeNs)));
        for (round.start(); round.nsecsElapsed() < delay;) {
        }
        child.kill();
        QVERIFY(child.waitForFinished());

        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray now = file.readAll();
        file.close();
        QVERIFY2(now == confFor(setA) || now == confFor(setB), now.constData());
        ++(now == confFor(setA) ? sawOld : sawNew);
    }
    qInfo("%d kills during Close: %d left the old six, %d the new six", loops, sawOld, sawNew);
    if (loops >= 20) { // the kills did land on both sides of the saves
        QVERIFY(sawOld > 0);
        QVERIFY(sawNew > 0);
    }
}

int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], "--close-forever") == 0) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication application(argc, argv);
        pressCloseForever(QString::fromLocal8Bit(argv[2]));
    }
    QCoreApplication application(argc, argv);
    TestCloseKill test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_closekill.moc"
