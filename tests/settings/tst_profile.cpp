#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "Profile.h"

#include <QDir>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using settings::getProfileString;
using settings::writeProfileString;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestProfile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QVERIFY(m_dir.isValid()); }
    void read_data();
    void read();
    void readMissingFile();
    void write_data();
    void write();
    void writtenValueReadsBack();
    void failedWriteKeepsOldFile();
    void readOnlyFolderWritesInPlace_data();
    void readOnlyFolderWritesInPlace();

private:
    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(QStringLiteral("conf.ini")); }
};

void TestProfile::read_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    const QByteArray simple = "[App]\nComPortNum=3\nComPortSpeed=9600\n";
    QTest::newRow("key found") << simple << "App"
                               << "ComPortNum"
                               << "3";
    QTest::newRow("key missing gives default") << simple << "App"
                                               << "Yvaluemax"
                                               << "dflt";
    QTest::newRow("section missing gives default") << simple << "Other"
                                                   << "ComPortNum"
                                                   << "dflt";
    QTest::newRow("names ignore case") << simple << "app"
                                       << "COMPORTNUM"
                                       << "3";
    QTest::newRow("blanks around value dropped")
        << QByteArray("[App]\n  key =   spaced value  \t\n") << "App"
        << "key"
        << "spaced value";
    QTest::newRow("empty value is not missing") << QByteArray("[App]\nkey=\n") << "App"
                                                << "key"
                                                << "";
    QTest::newRow("key of another section not seen")
        << QByteArray("[Other]\nkey=1\n[App]\nx=2\n") << "App"
        << "key"
        << "dflt";
    QTest::newRow("second section found") << QByteArray("[Other]\nkey=1\n[App]\nkey=2\n") << "App"
                                          << "key"
                                          << "2";
    QTest::newRow("CR LF lines") << QByteArray("[App]\r\nkey=7\r\n") << "App"
                                 << "key"
                                 << "7";
    QTest::newRow("value 254 long read whole")
        << QByteArray("[App]\nkey=" + QByteArray(254, 'x') + "\n") << "App"
        << "key" << QString(254, QLatin1Char('x'));
    QTest::newRow("value 300 long cut to 254")
        << QByteArray("[App]\nkey=" + QByteArray(300, 'y') + "\n") << "App"
        << "key" << QString(254, QLatin1Char('y'));
    QTest::newRow("equals sign inside value") << QByteArray("[App]\nkey=a=b\n") << "App"
                                              << "key"
                                              << "a=b";
}

void TestProfile::read() {
    QFETCH(QByteArray, file);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    writeFile(path(), file);
    QCOMPARE(getProfileString(section, key, QStringLiteral("dflt"), path()), expected);
}

void TestProfile::readMissingFile() {
    QCOMPARE(getProfileString(QStringLiteral("App"), QStringLiteral("key"), QStringLiteral("20"),
                              m_dir.filePath(QStringLiteral("absent.ini"))),
             QStringLiteral("20"));
    QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("absent.ini"))));
}

void TestProfile::write_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("new file") << QByteArray() << "App"
                              << "ComPortNum"
                              << "1" << QByteArray("[App]\nComPortNum=1\n");
    QTest::newRow("replace keeps everything else")
        << QByteArray("; my comment\n[App]\nComPortNum=1\n\nOther=x\n[Ports]\n1=/dev/ttyUSB0\n")
        << "App"
        << "ComPortNum"
        << "2"
        << QByteArray("; my comment\n[App]\nComPortNum=2\n\nOther=x\n[Ports]\n1=/dev/ttyUSB0\n");
    QTest::newRow("new key after the section's last key")
        << QByteArray("[App]\na=1\n\n[Ports]\n1=x\n") << "App"
        << "b"
        << "2" << QByteArray("[App]\na=1\nb=2\n\n[Ports]\n1=x\n");
    QTest::newRow("new section at the end") << QByteArray("[Ports]\n1=x\n") << "App"
                                            << "k"
                                            << "v" << QByteArray("[Ports]\n1=x\n[App]\nk=v\n");
    QTest::newRow("key in other case replaced") << QByteArray("[APP]\ncomportnum=1\n") << "App"
                                                << "ComPortNum"
                                                << "5" << QByteArray("[APP]\nComPortNum=5\n");
    QTest::newRow("CR LF kept") << QByteArray("[App]\r\na=1\r\n") << "App"
                                << "a"
                                << "9" << QByteArray("[App]\r\na=9\r\n");
    QTest::newRow("bytes of another encoding kept")
        << QByteArray("; param\xe8tres\n[App]\na=1\n[Other]\nb=caf\xe9\n") << "App"
        << "a"
        << "2" << QByteArray("; param\xe8tres\n[App]\na=2\n[Other]\nb=caf\xe9\n");
    QTest::newRow("file without final line end, key added") << QByteArray("[App]\na=1") << "App"
                                                            << "b"
                                                            << "2" << QByteArray("[App]\na=1\nb=2");
    QTest::newRow("file without final line end, key replaced")
        << QByteArray("[App]\r\na=1") << "App"
        << "a"
        << "2" << QByteArray("[App]\r\na=2");
    QTest::newRow("mixed line ends each kept")
        << QByteArray("; note\r\n[App]\na=1\r\n\n[Ports]\r\n1=x") << "App"
        << "a"
        << "2" << QByteArray("; note\r\n[App]\na=2\r\n\n[Ports]\r\n1=x");
    QTest::newRow("added line takes the first line end")
        << QByteArray("[App]\r\na=1\n") << "App"
        << "b"
        << "2" << QByteArray("[App]\r\na=1\nb=2\r\n");
}

void TestProfile::write() {
    QFETCH(QByteArray, before);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QByteArray, after);
    QFile::remove(path());
    if (!before.isEmpty())
        writeFile(path(), before);
    QVERIFY(writeProfileString(section, key, value, path()));
    QCOMPARE(readFile(path()), after);
}

void TestProfile::writtenValueReadsBack() {
    QFile::remove(path());
    QVERIFY(writeProfileString(QStringLiteral("App"), QStringLiteral("Speed"),
                               QStringLiteral("115200"), path()));
    QCOMPARE(getProfileString(QStringLiteral("App"), QStringLiteral("Speed"), QString(), path()),
             QStringLiteral("115200"));
}

void TestProfile::failedWriteKeepsOldFile() {
    // A disk that takes no more bytes: the file-size limit makes every write
    // past 16 bytes fail, for root too.
    writeFile(path(), "[App]\nComPortNum=4\n");
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = saved;
    tiny.rlim_cur = 16;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    const bool written = writeProfileString(QStringLiteral("App"), QStringLiteral("ComPortSpeed"),
                                            QStringLiteral("19200"), path());
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
    QVERIFY(!written);
    QCOMPARE(readFile(path()), QByteArray("[App]\nComPortNum=4\n"));
}

void TestProfile::readOnlyFolderWritesInPlace_data() {
    QTest::addColumn<int>("fileMode");
    QTest::addColumn<bool>("written");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("file writable: written in place")
        << 0644 << true << QByteArray("[App]\na=2\nb=3\n");
    QTest::newRow("file read-only: refused, kept") << 0444 << false << QByteArray("[App]\na=1\n");
}

void TestProfile::readOnlyFolderWritesInPlace() {
    // A folder that takes no new file, as an unprivileged user sees it (the
    // test may run as root, whom no mode stops): the write runs in a child
    // process that has given up root.
    QFETCH(int, fileMode);
    QFETCH(bool, written);
    QFETCH(QByteArray, after);
    const uid_t nobody = 65534;
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("conf.ini"));
    writeFile(file, "[App]\na=1\n");
    const QByteArray folder = QFile::encodeName(dir.path());
    if (geteuid() != 0)
        QSKIP("needs root to hand the folder to another user");
    QCOMPARE(chown(folder.constData(), nobody, nobody), 0);
    QCOMPARE(chown(QFile::encodeName(file).constData(), nobody, nobody), 0);
    QCOMPARE(chmod(QFile::encodeName(file).constData(), mode_t(fileMode)), 0);
    QCOMPARE(chmod(folder.constData(), 0555), 0);
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(nobody) != 0 || setuid(nobody) != 0)
            _exit(2);
        const auto result =
            settings::writeProfileStrings(QStringLiteral("App"),
                                          {{QStringLiteral("a"), QStringLiteral("2")},
                                           {QStringLiteral("b"), QStringLiteral("3")}},
                                          file);
        // A refusal says why, naming the file.
        _exit(result ? 0 : result.reason.contains(file) ? 1 : 3);
    }
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), written ? 0 : 1);
    QCOMPARE(readFile(file), after);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("conf.ini")});
    chmod(folder.constData(), 0755);
}

QTEST_GUILESS_MAIN(TestProfile)
#include "tst_profile.moc"
