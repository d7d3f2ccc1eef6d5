#pragma once

// A running tksim on a link in its own temporary folder, with its log read as
// it grows. tksim prints "tksim ready on PATH" once the link is usable and
// writes each log line in one piece once the answer's last byte is on the
// line, so a test waits on the one and reads the other without sleeping.

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// How long a test waits for what tksim does: a wait ends as soon as its
// condition holds, and a loaded machine may take many times its usual time.
inline constexpr int simWaitMs = 20000;

class TksimProcess {
public:
    // A pseudo-terminal's link, or a Modbus TCP gateway on a free port of
    // 127.0.0.1 (link() is then its address, tcp://127.0.0.1:PORT).
    enum class Line { Link, Tcp };

    // program: the tksim executable; options: what follows --link (or
    // --tcp) and --log.
    TksimProcess(QString program, const QStringList& options, Line line = Line::Link);
    // Ends tksim with SIGTERM, the way that lets it remove its link.
    ~TksimProcess();
    TksimProcess(const TksimProcess&) = delete;
    TksimProcess& operator=(const TksimProcess&) = delete;

    // Starts tksim and waits until it reports its link ready and its log is
    // open for reading; false when it exits first or timeoutMs passes.
    bool start(int timeoutMs = simWaitMs);

    QString link() const { return m_link; }
    QString logPath() const { return m_logPath; }
    // Another path in the same temporary folder.
    QString pathInFolder(const QString& name) const { return m_dir.filePath(name); }
    QProcess& process() { return m_process; }

    // Every whole line in the log so far, read without waiting; a line still
    // being written is left for a later call. Empty before start().
    const QStringList& logLines();
    // The whole lines written since the last call, kept nowhere: for runs so
    // long that keeping every line would show as the test's own memory
    // growth. Not to be mixed with logLines() on the same process.
    QStringList takeNewLines();

    // SIGUSR1: pulls the line out, or plugs it back in when it is out.
    bool togglePlug();

private:
    bool ready();

    QTemporaryDir m_dir; // first, so it goes last, once the process has ended
    QString m_program;
    QString m_link;
    QString m_logPath;
    QStringList m_arguments;
    QProcess m_process;
    QByteArray m_output;
    QFile m_log;
    QByteArray m_partial;
    QStringList m_lines;
};
