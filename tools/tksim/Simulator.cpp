#include "Simulator.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

namespace tksim {

namespace {

constexpr auto ovenTick = std::chrono::milliseconds(200);
// libmodbus waits this long for a request before it lets its thread look at
// the stop flag; it bounds how long SIGTERM takes.
constexpr std::uint32_t idleWaitMicroseconds = 50000;
constexpr std::uint32_t otherAnswerWaitMicroseconds = 1000;
constexpr int writableRegister = 2;       // the setpoint; measured value and power are read-only
constexpr double measurementNoise = 0.08; // degrees, standard deviation

int signalPipe[2] = {-1, -1};

// What a signal asks of the relay, written to the signal pipe as one byte.
constexpr char stopRequest = 's';
constexpr char plugToggleRequest = 'u';

void onSignal(int signal) {
    const int saved = errno;
    const char byte = signal == SIGUSR1 ? plugToggleRequest : stopRequest;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

bool makePipe(int fds[2]) {
    return ::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0;
}

void drain(int fd) {
    char buffer[64];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
}

std::int16_t toRegister(double value) {
    return static_cast<std::int16_t>(std::clamp(std::lround(value), -32768L, 32767L));
}

int word(const std::uint8_t* frame, int at) {
    return frame[at] << 8 | frame[at + 1];
}

// Writes to the measured value or the power are refused as a real controller
// refuses them; only the setpoint is the operator's to change.
bool writesOnlySetpoint(const std::uint8_t* request, int size) {
    const int function = request[1];
    if (function == 6 && size >= 6)
        return word(request, 2) == writableRegister;
    if (function == 16 && size >= 6)
        return word(request, 2) == writableRegister && word(request, 4) == 1;
    return true; // not a write
}

} // namespace

Simulator::Simulator(const Options& options, Log& log)
    : m_options(options), m_log(log),
      m_endpoint(options.link.empty() ? Endpoint::Kind::Device : Endpoint::Kind::Link,
                 options.link.empty() ? options.device : options.link, options.baud),
      m_faultRandom(options.seed), m_noiseRandom(options.seed ^ 0x9E3779B9u), m_oven(options.room) {
}

Simulator::~Simulator() {
    m_stop = true;
    if (m_slaveThread.joinable())
        m_slaveThread.join();
    if (m_modbus) {
        modbus_close(m_modbus);
        modbus_free(m_modbus);
    }
    if (m_registers)
        modbus_mapping_free(m_registers);
    if (m_slaveMaster >= 0)
        ::close(m_slaveMaster);
    for (int fd : m_wake)
        if (fd >= 0)
            ::close(fd);
    m_endpoint.close();
}

bool Simulator::setUp(std::string& error) {
    if (!makePipe(m_wake) || (signalPipe[0] < 0 && !makePipe(signalPipe))) {
        error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return false;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    sigaction(SIGUSR1, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    // libmodbus opens a device by name, so it gets a pty of its own.
    int terminal = -1;
    char name[PATH_MAX] = {};
    if (openpty(&m_slaveMaster, &terminal, name, nullptr, nullptr) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    setRawLine(terminal, 19200);
    fcntl(m_slaveMaster, F_SETFL, fcntl(m_slaveMaster, F_GETFL) | O_NONBLOCK);
    fcntl(m_slaveMaster, F_SETFD, FD_CLOEXEC);

    m_modbus = modbus_new_rtu(name, m_options.baud, 'N', 8, 1);
    const bool connected = m_modbus && modbus_set_slave(m_modbus, m_options.address) == 0 &&
                           modbus_connect(m_modbus) == 0;
    // libmodbus holds its own descriptor now; ours only had to keep the pty
    // alive until then.
    ::close(terminal);
    if (!connected) {
        error = std::string("libmodbus cannot open its line: ") + modbus_strerror(errno);
        return false;
    }
    modbus_set_indication_timeout(m_modbus, 0, idleWaitMicroseconds);
    // After a request for another slave, libmodbus reads the next frame as
    // that slave's answer and ignores it, waiting this long for it. On a bus
    // the answer follows at once; on the program's point-to-point line there
    // is none, and a long wait would swallow the program's next request.
    modbus_set_response_timeout(m_modbus, 0, otherAnswerWaitMicroseconds);

    m_registers = modbus_mapping_new_start_address(0, 0, 0, 0, 1, 3, 0, 0);
    if (!m_registers) {
        error = "cannot allocate the registers";
        return false;
    }
    if (m_options.fixed)
        storeRegisters((*m_options.fixed)[0], (*m_options.fixed)[1], (*m_options.fixed)[2]);
    else
        storeRegisters(toRegister(m_options.room * 10), toRegister(m_options.setpoint * 10), 0);

    if (!m_endpoint.open(error))
        return false;

    // Signals belong to the relay thread, whose poll() watches the pipe.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    m_slaveThread = std::thread([this] { serveRequests(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return true;
}

int Simulator::run() {
    std::string error;
    if (!setUp(error)) {
        std::fprintf(stderr, "tksim: %s\n", error.c_str());
        return 1;
    }
    const auto now = Clock::now();
    m_lastOvenTick = now;
    m_started = now;
    if (m_options.unplugAfterSeconds >= 0)
        m_unplugAt = now + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(m_options.unplugAfterSeconds));
    std::printf("tksim ready on %s\n", m_endpoint.path().c_str());
    std::fflush(stdout);
    relayLoop();
    return 0;
}

// ---- libmodbus thread ----

FaultPlan Simulator::nextPlan() {
    FaultPlan plan = drawPlan(m_options.rates, m_options.address, m_faultRandom);
    if (plan.injected()) {
        if (m_options.maxFaults >= 0 && m_faultsInjected >= m_options.maxFaults)
            return FaultPlan{};
        ++m_faultsInjected;
    }
    return plan;
}

void Simulator::serveRequests() {
    std::uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH] = {};
    while (!m_stop) {
        const int size = modbus_receive(m_modbus, request);
        if (size < 0) {
            if (errno == EMBBADCRC)
                m_log.line("refused crc " + describeRequest(Bytes(request, request + 6)));
            else if (errno != ETIMEDOUT && errno != EINTR)
                m_log.line(std::string("refused ") + modbus_strerror(errno));
            continue;
        }
        if (size == 0) {
            // libmodbus filters other slaves' requests before checking them.
            // Its next receive is the wait for the other slave's answer, done
            // here so that the line is logged only once that wait is over.
            const int address = request[0];
            modbus_receive(m_modbus, request);
            m_log.line("ignored address " + std::to_string(address));
            continue;
        }
        Pending pending{nextPlan(), Bytes(request, request + size), 0};
        if (pending.plan.needsReply()) {
            const int sent = reply(request, size, pending.plan);
            if (sent < 0) {
                m_log.line(std::string("error ") + modbus_strerror(errno) + " " +
                           describeRequest(pending.request));
                continue;
            }
            if (sent == 0) {
                m_log.line("broadcast " + describeRequest(pending.request));
                continue;
            }
            pending.answerSize = static_cast<std::size_t>(sent);
        }
        queuePending(std::move(pending));
    }
}

int Simulator::reply(const std::uint8_t* request, int size, const FaultPlan& plan) {
    const std::lock_guard lock(m_registersMutex);
    if (plan.fate == Fate::Exception)
        return modbus_reply_exception(m_modbus, request,
                                      static_cast<unsigned>(m_options.exceptionCode));
    if (!writesOnlySetpoint(request, size))
        return modbus_reply_exception(m_modbus, request, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
    return modbus_reply(m_modbus, request, size, m_registers);
}

void Simulator::queuePending(Pending pending) {
    {
        const std::lock_guard lock(m_pendingMutex);
        m_pending.push_back(std::move(pending));
    }
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wake[1], &byte, 1);
}

// ---- relay thread ----

void Simulator::relayLoop() {
    for (;;) {
        const auto now = Clock::now();
        const auto deadline = nextDeadline(now);
        const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(
                                std::max(deadline - now, Clock::duration{}))
                                .count();

        const bool outputDue = !m_outgoing.empty() && m_outgoing.front().due <= now;
        pollfd fds[4] = {
            {signalPipe[0], POLLIN, 0},
            {m_wake[0], POLLIN, 0},
            {m_slaveMaster, static_cast<short>(POLLIN | (m_toSlave.empty() ? 0 : POLLOUT)), 0},
            {m_endpoint.fd(), static_cast<short>(POLLIN | (outputDue ? POLLOUT : 0)), 0},
        };
        const nfds_t count = m_endpoint.isOpen() ? 4 : 3;
        const int ready =
            ::poll(fds, count, static_cast<int>(std::min<long long>(waitMs, INT_MAX)));
        if (ready < 0 && errno != EINTR)
            return;
        if (fds[0].revents && !takeSignals())
            return;
        if (fds[1].revents)
            drain(m_wake[0]);
        if (fds[2].revents & POLLIN)
            readFromSlave();
        if (count == 4 && fds[3].revents)
            readFromLine();
        writeToSlave();
        matchAnswers();
        const auto after = Clock::now();
        flushOutgoing(after);
        runTimers(after);
    }
}

bool Simulator::takeSignals() {
    char buffer[64];
    ssize_t n;
    while ((n = ::read(signalPipe[0], buffer, sizeof buffer)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] != plugToggleRequest)
                return false;
            togglePlug();
        }
    }
    return true;
}

void Simulator::togglePlug() {
    // A test pulls and puts back the adapter at moments of its choosing, so
    // no replug is timed: the line stays out until the next signal.
    if (m_endpoint.isOpen()) {
        unplug("fault unplug signal");
        m_replugAt.reset();
        return;
    }
    m_replugAt = Clock::now();
}

Simulator::Clock::time_point Simulator::nextDeadline(Clock::time_point now) const {
    Clock::time_point deadline = now + std::chrono::seconds(1);
    if (!m_options.fixed)
        deadline = std::min(deadline, m_lastOvenTick + ovenTick);
    if (!m_outgoing.empty())
        deadline = std::min(deadline, m_outgoing.front().due);
    if (m_unplugAt)
        deadline = std::min(deadline, *m_unplugAt);
    if (m_replugAt)
        deadline = std::min(deadline, *m_replugAt);
    if (m_nextStep < m_options.script.size())
        deadline = std::min(deadline, stepTime(m_options.script[m_nextStep]));
    return deadline;
}

void Simulator::readFromSlave() {
    std::uint8_t buffer[512];
    for (;;) {
        const ssize_t n = ::read(m_slaveMaster, buffer, sizeof buffer);
        if (n <= 0)
            return;
        m_fromSlave.insert(m_fromSlave.end(), buffer, buffer + n);
    }
}

void Simulator::readFromLine() {
    std::uint8_t buffer[512];
    for (;;) {
        const ssize_t n = ::read(m_endpoint.fd(), buffer, sizeof buffer);
        if (n > 0 && m_options.checkBaud && !m_options.link.empty() &&
            !lineAtBaud(m_endpoint.fd(), m_options.baud)) {
            // At a wrong speed a controller hears only framing errors.
            m_log.line("lost " + std::to_string(n) + " bytes sent at another speed");
            continue;
        }
        if (n > 0) {
            m_toSlave.insert(m_toSlave.end(), buffer, buffer + n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        // A device that went away (USB adapter pulled): try again later, as
        // an unplug does. A link never gets here, since we hold its terminal.
        m_log.line("lost " + m_endpoint.path() + ": " +
                   (n == 0 ? std::string("end of file") : std::strerror(errno)));
        unplug({});
        return;
    }
}

void Simulator::writeToSlave() {
    while (!m_toSlave.empty()) {
        const ssize_t n = ::write(m_slaveMaster, m_toSlave.data(), m_toSlave.size());
        if (n <= 0)
            return;
        m_toSlave.erase(m_toSlave.begin(), m_toSlave.begin() + n);
    }
}

void Simulator::matchAnswers() {
    for (;;) {
        Pending pending;
        {
            const std::lock_guard lock(m_pendingMutex);
            if (m_pending.empty() || m_fromSlave.size() < m_pending.front().answerSize)
                return;
            pending = std::move(m_pending.front());
            m_pending.pop_front();
        }
        const auto end = m_fromSlave.begin() + static_cast<long>(pending.answerSize);
        const Bytes answer(m_fromSlave.begin(), end);
        m_fromSlave.erase(m_fromSlave.begin(), end);
        const Delivery delivery = deliver(pending.plan, pending.request, answer);
        if (pending.plan.fate == Fate::Unplug) {
            unplug(delivery.log);
            continue;
        }
        if (pending.plan.fate == Fate::Drop) {
            m_log.line(delivery.log);
            continue;
        }
        schedule(delivery, pending.plan.slow);
    }
}

void Simulator::schedule(const Delivery& delivery, bool slow) {
    auto due = Clock::now();
    if (!m_outgoing.empty())
        due = std::max(due, m_outgoing.back().due);
    if (!slow) {
        m_outgoing.push_back({due, delivery.bytes, delivery.log});
        return;
    }
    const auto gap = std::chrono::milliseconds(m_options.byteDelayMs);
    for (std::size_t i = 0; i < delivery.bytes.size(); ++i) {
        const bool last = i + 1 == delivery.bytes.size();
        m_outgoing.push_back(
            {due + gap * static_cast<int>(i), Bytes{delivery.bytes[i]}, last ? delivery.log : ""});
    }
}

void Simulator::flushOutgoing(Clock::time_point now) {
    while (!m_outgoing.empty() && m_outgoing.front().due <= now) {
        Outgoing& out = m_outgoing.front();
        if (!m_endpoint.isOpen()) {
            // Unplugged while this answer was on its way.
            if (!out.log.empty())
                m_log.line("cut " + out.log);
            m_outgoing.pop_front();
            continue;
        }
        while (!out.bytes.empty()) {
            const ssize_t n = ::write(m_endpoint.fd(), out.bytes.data(), out.bytes.size());
            if (n <= 0)
                return; // the master is not reading: wait for POLLOUT
            out.bytes.erase(out.bytes.begin(), out.bytes.begin() + n);
        }
        if (!out.log.empty())
            m_log.line(out.log);
        m_outgoing.pop_front();
    }
}

void Simulator::unplug(const std::string& why) {
    if (!why.empty())
        m_log.line(why);
    m_endpoint.close();
    m_toSlave.clear();
    flushOutgoing(Clock::time_point::max());
    m_replugAt = Clock::now() + std::chrono::milliseconds(m_options.replugAfterMs);
}

void Simulator::runTimers(Clock::time_point now) {
    if (m_unplugAt && *m_unplugAt <= now) {
        m_unplugAt.reset();
        if (m_endpoint.isOpen())
            unplug("fault unplug timed");
    }
    if (m_replugAt && *m_replugAt <= now) {
        m_replugAt.reset();
        std::string error;
        if (m_endpoint.open(error)) {
            m_log.line("replug " + m_endpoint.path());
        } else {
            m_log.line("replug failed: " + error);
            m_replugAt = now + std::chrono::milliseconds(std::max(m_options.replugAfterMs, 500));
        }
    }
    while (m_nextStep < m_options.script.size() && stepTime(m_options.script[m_nextStep]) <= now) {
        const auto& r = m_options.script[m_nextStep++].registers;
        storeRegisters(r[0], r[1], r[2]);
        m_log.line("script " + std::to_string(r[0]) + "," + std::to_string(r[1]) + "," +
                   std::to_string(r[2]));
    }
    if (!m_options.fixed && now - m_lastOvenTick >= ovenTick)
        tickOven(now);
}

void Simulator::tickOven(Clock::time_point now) {
    const double seconds = std::chrono::duration<double>(now - m_lastOvenTick).count();
    m_lastOvenTick = now;
    double setpoint = 0;
    {
        const std::lock_guard lock(m_registersMutex);
        setpoint = static_cast<std::int16_t>(m_registers->tab_registers[1]) / 10.0;
    }
    m_oven.advance(seconds * m_options.speed, setpoint);
    std::normal_distribution<double> noise(0.0, measurementNoise);
    const std::int16_t measured = toRegister((m_oven.temperature() + noise(m_noiseRandom)) * 10);
    const std::int16_t power = toRegister(m_oven.power());
    const std::lock_guard lock(m_registersMutex);
    m_registers->tab_registers[0] = static_cast<std::uint16_t>(measured);
    m_registers->tab_registers[2] = static_cast<std::uint16_t>(power);
}

Simulator::Clock::time_point Simulator::stepTime(const ScriptStep& step) const {
    return m_started + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(step.atSeconds));
}

void Simulator::storeRegisters(int measured, int setpoint, int power) {
    const std::lock_guard lock(m_registersMutex);
    m_registers->tab_registers[0] = static_cast<std::uint16_t>(measured);
    m_registers->tab_registers[1] = static_cast<std::uint16_t>(setpoint);
    m_registers->tab_registers[2] = static_cast<std::uint16_t>(power);
}

} // namespace tksim
