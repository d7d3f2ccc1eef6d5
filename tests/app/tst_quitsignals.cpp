#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "ProcessProbe.h"
#include "Pty.h"

#include <csignal>

class TestQuitSignals : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void programEndsAsExitDoes_data();
    void programEndsAsExitDoes();
};

void TestQuitSignals::programEndsAsExitDoes_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("portOpens");
    QTest::newRow("SIGTERM") << SIGTERM << true;
    QTest::newRow("SIGHUP") << SIGHUP << true;
    QTest::newRow("SIGINT") << SIGINT << true;
    // The start-up message box holds its own event loop: the signal ends it too.
    QTest::newRow("SIGTERM at the start-up message box") << SIGTERM << false;
}

// The program itself on a pseudo-terminal: the signal ends it with status 0
// and the port's lock file gone, as "Exit" leaves it.
void TestQuitSignals::programEndsAsExitDoes() {
    QFETCH(int, signalNumber);
    QFETCH(bool, portOpens);
    Pty pty;
    QTemporaryDir folder;
    QVERIFY(pty.isValid() && folder.isValid());
    {
        // Every number the start-up scan tries is mapped: no machine port is touched.
        QByteArray conf =
            "[Ports]\n1=" + (portOpens ? pty.path().toLocal8Bit() : "/nonexistent/tk-port-1") +
            "\n";
        for (int n = 2; n <= 50; ++n)
            conf += QByteArray::number(n) + "=/nonexistent/tk-port\n";
        QFile file(folder.filePath(QStringLiteral("conf.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(conf + "[TK840 TK960 PC control]\nComPortNum=1\n");
    }
    QProcess program;
    program.setWorkingDirectory(folder.path());
    // The serial layer's debug lines tell when the open of port 1 failed: the
    // message box comes next.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_LOGGING_RULES"),
                       QStringLiteral("tk.link.serial.debug=true"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TKCONTROL_PATH), {});
    QVERIFY(program.waitForStarted());
    const QString lock = serialLockFileFor(pty.path());
    if (portOpens)
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(lock); }, 20000));
    else
        QVERIFY(QTest::qWaitFor(
            [&] { return program.readAllStandardError().contains("tk-port-1"); }, 20000));

    QCOMPARE(::kill(pid_t(program.processId()), signalNumber), 0);
    QVERIFY(program.waitForFinished(20000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(!QFile::exists(lock));
}

QTEST_GUILESS_MAIN(TestQuitSignals)
#include "tst_quitsignals.moc"
