#include "QuitSignals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>
#endif

namespace app {

namespace {

#ifndef Q_OS_WIN
constexpr std::array<int, 3> quitSignals = {SIGTERM, SIGHUP, SIGINT};

// Read end, write end; the handler reaches the write end only.
std::array<int, 2> wakePipe = {-1, -1};
std::array<struct sigaction, quitSignals.size()> previous{};
std::array<bool, quitSignals.size()> handled{};

extern "C" void onQuitSignal(int signalNumber) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    // write() is async-signal-safe; a full pipe already holds a wake-up.
    [[maybe_unused]] const ssize_t n = ::write(wakePipe[1], &byte, 1);
    errno = savedErrno;
}
#endif

} // namespace

QuitSignals::QuitSignals(QObject* parent) : QObject(parent) {
#ifndef Q_OS_WIN
    if (wakePipe[0] >= 0 || ::pipe2(wakePipe.data(), O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitSignals::readPipe);
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < quitSignals.size(); ++i) {
        // A signal ignored when the program started stays ignored: nohup
        // ignores SIGHUP so that a closed terminal does not end the run.
        sigaction(quitSignals[i], nullptr, &previous[i]);
        handled[i] = previous[i].sa_handler != SIG_IGN;
        if (handled[i])
            sigaction(quitSignals[i], &action, nullptr);
    }
    m_installed = true;
#endif
}

QuitSignals::~QuitSignals() {
#ifndef Q_OS_WIN
    if (!m_installed)
        return;
    for (std::size_t i = 0; i < quitSignals.size(); ++i) {
        if (handled[i])
            sigaction(quitSignals[i], &previous[i], nullptr);
    }
    delete m_notifier;
    ::close(wakePipe[0]);
    ::close(wakePipe[1]);
    wakePipe = {-1, -1};
#endif
}

void QuitSignals::readPipe() {
#ifndef Q_OS_WIN
    unsigned char byte = 0;
    while (::read(wakePipe[0], &byte, 1) == 1) {
        if (m_received == 0)
            m_received = byte;
        Q_EMIT quitRequested(byte);
    }
#endif
}

} // namespace app
