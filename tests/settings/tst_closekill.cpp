#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include "Data.h"
#include "Parameters_dialog.h"

#include <cstdio>

// "Close" killed at any moment leaves conf.ini with the six old values or the
// six new ones, never a mix. A child process presses "Close" again and again,
// with two sets of values in turn; it is killed at a random moment of a save,
// many times over. TK_KILL_LOOPS sets how many (default 100).

namespace {

struct Six {
    int16_t port;
    const char* speed;
    int16_t interval;
    float yMin;
    float yMax;
    float scale;
    const char* graph[3]; // the boxes' texts
};

const Six setA{1, "19200", 20, 0, 300, 10, {"0", "300", "10"}};
const Six setB{7, "115200", 240, 2000, 1000, 40, {"2000", "1000", "40"}};

// Lines of every kind around the section, with both line endings and no
// ending on the last line: none of them may change.
QByteArray confFor(const Six& six) {
    const auto n = [](double v) { return QByteArray::number(v); };
    return "; operator's note\r\n[TK840 TK960 PC control]\nComPortNum=" + n(six.port) +
           "\r\nComPortSpeed=" + QByteArray(six.speed) + "\ninterv_record=" + n(six.interval) +
           "\r\nYvaluemin=" + n(six.yMin) + "\nYvaluemax=" + n(six.yMax) +
           "\nEchelle_Temps=" + n(six.scale) + "\r\n\n[Ports]\n7=/dev/ttyUSB0";
}

// The child: "Close" with A, then with B, and so on, until killed. One line
// on the standard output after each.
[[noreturn]] void pressCloseForever(const QString& folder) {
    QDir::setCurrent(folder);
    Data::resetAll();
    for (quint64 round = 0;; ++round) {
        const Six& six = round % 2 == 0 ? setB : setA;
        Data::comPortNum = six.port;
        Data::comPortSpeed = QLatin1String(six.speed);
        Data::intervRecord = six.interval;
        Data::yValueMin = six.yMin;
        Data::yValueMax = six.yMax;
        Data::timeScale = six.scale;
        auto* dialog = new settings::Parameters_dialog({});
        const char* boxes[] = {"min_box", "max_box", "temps_box"};
        for (int i = 0; i < 3; ++i)
            dialog->findChild<QLineEdit*>(QLatin1String(boxes[i]))
                ->setText(QLatin1String(six.graph[i]));
        dialog->findChild<QPushButton*>(QStringLiteral("OKButton"))->click();
        delete dialog;
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
    const QString conf = dir.filePath(QStringLiteral("conf.ini"));
    {
        QFile file(conf);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(confFor(setA));
    }
    const QByteArray old = confFor(setA);
    const QByteArray fresh = confFor(setB);
    int sawOld = 0;
    int sawNew = 0;
    qint64 closeNs = 0;
    for (int loop = 0; loop < loops; ++loop) {
        QProcess child;
        child.setProgram(QCoreApplication::applicationFilePath());
        child.setArguments({QStringLiteral("--close-forever"), dir.path()});
        child.start();
        QVERIFY(child.waitForStarted());
        // The first "Close" done: the child is in its loop, and how long one
        // takes tells over how long to spread the moments of the kill.
        QElapsedTimer round;
        while (!child.canReadLine())
            QVERIFY2(child.waitForReadyRead(10000), "the child never closed the dialog");
        child.readLine();
        round.start();
        for (int closes = 0; closeNs == 0 && closes < 10;) {
            while (!child.canReadLine())
                QVERIFY(child.waitForReadyRead(10000));
            child.readLine();
            if (++closes == 10)
                closeNs = std::max<qint64>(round.nsecsElapsed() / closes, 1000);
        }
        // A random moment within the next two saves; spinning rather than
        // sleeping keeps the moment to the microsecond.
        const auto delay = qint64(QRandomGenerator::global()->bounded(quint64(2 * closeNs)));
        QElapsedTimer spin;
        spin.start();
        while (spin.nsecsElapsed() < delay) {
        }
        child.kill();
        QVERIFY(child.waitForFinished());

        QFile file(conf);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray now = file.readAll();
        QVERIFY2(now == old || now == fresh, now.constData());
        ++(now == old ? sawOld : sawNew);
    }
    const QStringList left =
        QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("conf.ini."));
    qInfo("%d kills during Close: %d left the old six, %d the new six, never a mix; "
          "one Close takes about %lld us; %lld temporary files left beside conf.ini",
          loops, sawOld, sawNew, closeNs / 1000, qint64(left.size()));
    // Both outcomes seen: the kills did land on both sides of the saves.
    if (loops >= 20) {
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
