#pragma once

// A clean end on the signals that end a session: SIGTERM (shutdown, kill),
// SIGHUP (log-out, terminal closed) and SIGINT (Ctrl-C). The handler only
// writes the signal's number into a pipe; the main thread reads it from
// there and tells the program, which ends as its own "Exit" does, so the
// serial port and its lock file are released. A signal ignored when the
// program starts (nohup's SIGHUP) stays ignored.

#include <QObject>

class QSocketNotifier;

namespace app {

class QuitSignals : public QObject {
    Q_OBJECT

public:
    // Installs the handlers; the previous ones come back on destruction.
    // Only one instance at a time.
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

    // The handlers are in place.
    bool installed() const { return m_installed; }
    // The first signal received, 0 while none came (one may come before the
    // program is ready to act on it).
    int received() const { return m_received; }

Q_SIGNALS:
    // On the main thread, once per signal.
    void quitRequested(int signalNumber);

private:
    void readPipe();

    QSocketNotifier* m_notifier = nullptr;
    bool m_installed = false;
    int m_received = 0;
};

} // namespace app
