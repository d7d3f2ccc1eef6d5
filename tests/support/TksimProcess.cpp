#include "TksimProcess.h"

#include <QTest>

#include <csignal>

TksimProcess::TksimProcess(QString program, const QStringList& options, Line line)
    : m_program(std::move(program)),
      m_link(line == Line::Link ? m_dir.filePath(QStringLiteral("tk-sim-port")) : QString()),
      m_logPath(m_dir.filePath(QStringLiteral("tksim.log"))),
      m_arguments((line == Line::Link ? QStringList{QStringLiteral("--link"), m_link}
                                      : QStringList{QStringLiteral("--tcp"), QStringLiteral("0")}) +
                  QStringList{QStringLiteral("--log"), m_logPath} + options) {}

TksimProcess::~TksimProcess() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
}

bool TksimProcess::start(int timeoutMs) {
    m_process.start(m_program, m_arguments);
    const bool isReady =
        QTest::qWaitFor([this] { return ready() || m_process.state() == QProcess::NotRunning; },
                        timeoutMs) &&
        ready();
    if (!isReady)
        return false;
    // tksim empties its log before it reports ready. Unbuffered, so that a
    // read at the end of the file does not hide what is written later.
    m_log.setFileName(m_logPath);
    return m_log.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

bool TksimProcess::ready() {
    m_output += m_process.readAllStandardOutput();
    if (!m_link.isEmpty())
        return m_output.contains("tksim ready on " + m_link.toLocal8Bit() + "\n");
    // The gateway names the port it was given.
    const QByteArray prefix = "tksim ready on ";
    const qsizetype at = m_output.indexOf(prefix);
    const qsizetype end = m_output.indexOf('\n', at);
    if (at < 0 || end < 0)
        return false;
    m_link = QString::fromUtf8(m_output.mid(at + prefix.size(), end - at - prefix.size()));
    return true;
}

const QStringList& TksimProcess::logLines() {
    if (m_log.isOpen()) {
        m_partial += m_log.readAll();
        qsizetype end;
        while ((end = m_partial.indexOf('\n')) >= 0) {
            m_lines << QString::fromUtf8(m_partial.left(end));
            m_partial.remove(0, end + 1);
        }
    }
    return m_lines;
}

QStringList TksimProcess::takeNewLines() {
    QStringList lines;
    if (!m_log.isOpen())
        return lines;
    m_partial += m_log.readAll();
    qsizetype start = 0;
    qsizetype end;
    while ((end = m_partial.indexOf('\n', start)) >= 0) {
        lines << QString::fromUtf8(m_partial.mid(start, end - start));
        start = end + 1;
    }
    m_partial.remove(0, start);
    return lines;
}

bool TksimProcess::togglePlug() {
    const qint64 pid = m_process.processId();
    return pid > 0 && ::kill(static_cast<pid_t>(pid), SIGUSR1) == 0;
}
