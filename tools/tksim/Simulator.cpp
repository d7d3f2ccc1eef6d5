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
// The shortest wait libmodbus takes: the answer it skips is read from a
// pipe nothing is written to.
constexpr std::uint32_t otherAnswerWaitMicroseconds = 1;
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

} // namespace

Simulator::Simulator(const Options& options, Log& log)
    : m_options(options), m_log(log),
      m_endpoint(options.link.empty() ? Endpoint::Kind::Device : Endpoint::Kind::Link,
                 options.link.empty() ? options.device : options.link, options.baud),
      m_faultRandom(options.seed), m_noiseRandom(options.seed ^ 0x9E3779B9u) {
    for (const int address : options.addresses)
        m_slaves.push_back(std::make_unique<Slave>(address, options.room));
}

Simulator::~Simulator() {
    m_stop = true;
    for (const auto& slave : m_slaves) {
        if (slave->thread.joinable())
            slave->thread.join();
        if (slave->modbus) {
            modbus_close(slave->modbus);
            modbus_free(slave->modbus);
        }
        if (slave->registers)
            modbus_mapping_free(slave->registers);
        if (slave->master >= 0)
            ::close(slave->master);
    }
    for (const int client : m_tcpClients)
        ::close(client);
    if (m_listenSocket >= 0)
        ::close(m_listenSocket);
    if (m_tcp)
        modbus_free(m_tcp);
    for (int fd : {m_wake[0], m_wake[1], m_nothing[0], m_nothing[1]})
        if (fd >= 0)
            ::close(fd);
    m_endpoint.close();
}

int Simulator::signalFd() {
    return signalPipe[0];
}

bool Simulator::setUpSignals(std::string& error) {
    if (!makePipe(m_wake) || !makePipe(m_nothing) || (signalPipe[0] < 0 && !makePipe(signalPipe))) {
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
    return true;
}

bool Simulator::setUp(std::string& error) {
    if (!setUpSignals(error))
        return false;
    for (std::size_t i = 0; i < m_slaves.size(); ++i) {
        const double setpoint =
            m_options.setpoints.size() == 1 ? m_options.setpoints.front() : m_options.setpoints[i];
        if (!setUpSlave(*m_slaves[i], setpoint, error))
            return false;
    }

    if (!m_endpoint.open(error))
        return false;

    // The silences count from here; the libmodbus thread reads it.
    m_started = Clock::now();
    // Signals belong to the relay thread, whose poll() watches the pipe.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    for (std::size_t i = 0; i < m_slaves.size(); ++i)
        m_slaves[i]->thread = std::thread([this, i] { serveRequests(i); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return true;
}

bool Simulator::setUpSlave(Slave& slave, double setpoint, std::string& error) {
    if (m_options.tcpPort >= 0) {
        // One TCP server answers for every slave.
        slave.registers = modbus_mapping_new_start_address(0, 0, 0, 0, 1, 3, 0, 0);
        if (!slave.registers) {
            error = "cannot allocate the registers";
            return false;
        }
        if (m_options.fixed)
            storeRegisters(slave, (*m_options.fixed)[0], (*m_options.fixed)[1],
                           (*m_options.fixed)[2]);
        else
            storeRegisters(slave, toRegister(m_options.room * 10), toRegister(setpoint * 10), 0);
        return true;
    }
    // libmodbus opens a device by name, so it gets a pty of its own.
    int terminal = -1;
    char name[PATH_MAX] = {};
    if (openpty(&slave.master, &terminal, name, nullptr, nullptr) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    setRawLine(terminal, 19200);
    fcntl(slave.master, F_SETFL, fcntl(slave.master, F_GETFL) | O_NONBLOCK);
    fcntl(slave.master, F_SETFD, FD_CLOEXEC);

    slave.modbus = modbus_new_rtu(name, m_options.baud, 'N', 8, 1);
    const bool connected = slave.modbus && modbus_set_slave(slave.modbus, slave.address) == 0 &&
                           modbus_connect(slave.modbus) == 0;
    // libmodbus holds its own descriptor now; ours only had to keep the pty
    // alive until then.
    ::close(terminal);
    if (!connected) {
        error = std::string("libmodbus cannot open its line: ") + modbus_strerror(errno);
        return false;
    }
    modbus_set_indication_timeout(slave.modbus, 0, idleWaitMicroseconds);
    // After a request for another slave, libmodbus reads the next frame as
    // that slave's answer and ignores it, waiting this long for it.
    modbus_set_response_timeout(slave.modbus, 0, otherAnswerWaitMicroseconds);

    slave.registers = modbus_mapping_new_start_address(0, 0, 0, 0, 1, 3, 0, 0);
    if (!slave.registers) {
        error = "cannot allocate the registers";
        return false;
    }
    if (m_options.fixed)
        storeRegisters(slave, (*m_options.fixed)[0], (*m_options.fixed)[1], (*m_options.fixed)[2]);
    else
        storeRegisters(slave, toRegister(m_options.room * 10), toRegister(setpoint * 10), 0);
    return true;
}

int Simulator::run() {
    if (m_options.tcpPort >= 0)
        return runTcp();
    std::string error;
    if (!setUp(error)) {
        std::fprintf(stderr, "tksim: %s\n", error.c_str());
        return 1;
    }
    const auto now = Clock::now();
    m_lastOvenTick = now;
    if (m_options.unplugAfterSeconds >= 0)
        m_unplugAt = now + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(m_options.unplugAfterSeconds));
    std::printf("tksim ready on %s\n", m_endpoint.path().c_str());
    std::fflush(stdout);
    relayLoop();
    return 0;
}

// ---- libmodbus thread ----

std::string Simulator::linePrefix(int address) const {
    // One address: the log reads as it always did.
    return m_slaves.size() > 1 ? "@" + std::to_string(address) + " " : std::string();
}

bool Simulator::serves(int address) const {
    for (const auto& slave : m_slaves)
        if (slave->address == address)
            return true;
    return false;
}

bool Simulator::silentNow(int address) const {
    const double seconds = std::chrono::duration<double>(Clock::now() - m_started).count();
    for (const Silence& silence : m_options.silences)
        if (silence.address == address && seconds >= silence.fromSeconds &&
            (silence.toSeconds < 0 || seconds < silence.toSeconds))
            return true;
    return false;
}

FaultPlan Simulator::nextPlan(int address) {
    const auto& only = m_options.faultAddresses;
    if (!only.empty() && std::find(only.begin(), only.end(), address) == only.end())
        return FaultPlan{};
    const std::lock_guard lock(m_faultMutex);
    FaultPlan plan = drawPlan(m_options.rates, address, m_faultRandom);
    if (plan.injected()) {
        if (m_options.maxFaults >= 0 && m_faultsInjected >= m_options.maxFaults)
            return FaultPlan{};
        ++m_faultsInjected;
    }
    return plan;
}

void Simulator::serveRequests(std::size_t index) {
    Slave& slave = *m_slaves[index];
    std::uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH] = {};
    while (!m_stop) {
        const int size = modbus_receive(slave.modbus, request);
        if (size < 0) {
            // Every slave hears a broken request; one of them tells it.
            if (index > 0)
                continue;
            if (errno == EMBBADCRC)
                m_log.line("refused crc " + describeRequest(Bytes(request, request + 6)));
            else if (errno != ETIMEDOUT && errno != EINTR)
                m_log.line(std::string("refused ") + modbus_strerror(errno));
            continue;
        }
        if (size == 0) {
            // libmodbus filters other slaves' requests before checking them,
            // and takes the next frame it reads for that slave's answer. But
            // no slave here hears another's answer: the next frame is the
            // master's next request, already waiting when this thread runs
            // late, and would be lost. Its skip reads an empty pipe instead.
            const int address = request[0];
            const int line = modbus_get_socket(slave.modbus);
            modbus_set_socket(slave.modbus, m_nothing[0]);
            modbus_receive(slave.modbus, request);
            modbus_set_socket(slave.modbus, line);
            // Told once, by the first slave, and only when no slave serves it.
            if (index == 0 && !serves(address))
                m_log.line("ignored address " + std::to_string(address));
            continue;
        }
        // A broadcast reaches every slave; the first tells it.
        if (request[0] == 0 && index > 0)
            continue;
        if (silentNow(slave.address)) {
            m_log.line(linePrefix(slave.address) + "silent " +
                       describeRequest(Bytes(request, request + size)));
            continue;
        }
        Pending pending{index, nextPlan(slave.address), Bytes(request, request + size), 0};
        if (pending.plan.needsReply()) {
            const int sent = reply(slave, request, size, pending.plan);
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

int Simulator::reply(Slave& slave, const std::uint8_t* request, int size, const FaultPlan& plan) {
    const std::lock_guard lock(m_registersMutex);
    if (plan.fate == Fate::Exception)
        return modbus_reply_exception(slave.modbus, request,
                                      static_cast<unsigned>(m_options.exceptionCode));
    if (!writesOnlySetpoint(Bytes(request, request + size)))
        return modbus_reply_exception(slave.modbus, request, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
    const int function = request[1];
    if (function == 6 || function == 16) {
        for (const WriteRefusal& refusal : m_options.writeRefusals)
            if (refusal.address == 0 || refusal.address == slave.address)
                return modbus_reply_exception(slave.modbus, request,
                                              static_cast<unsigned>(refusal.code));
    }
    return modbus_reply(slave.modbus, request, size, slave.registers);
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
        std::vector<pollfd> fds = {
            {signalPipe[0], POLLIN, 0},
            {m_wake[0], POLLIN, 0},
            {m_endpoint.isOpen() ? m_endpoint.fd() : -1,
             static_cast<short>(POLLIN | (outputDue ? POLLOUT : 0)), 0},
        };
        for (const auto& slave : m_slaves)
            fds.push_back({slave->master,
                           static_cast<short>(POLLIN | (slave->toSlave.empty() ? 0 : POLLOUT)), 0});
        const int ready =
            ::poll(fds.data(), fds.size(), static_cast<int>(std::min<long long>(waitMs, INT_MAX)));
        if (ready < 0 && errno != EINTR)
            return;
        if (fds[0].revents && !takeSignals())
            return;
        if (fds[1].revents)
            drain(m_wake[0]);
        // The slaves' descriptors follow the first three, in slave order.
        std::size_t next = 3;
        for (const auto& slave : m_slaves)
            if (fds[next++].revents & POLLIN)
                readFromSlave(*slave);
        if (m_endpoint.isOpen() && fds[2].revents)
            readFromLine();
        writeToSlaves();
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

void Simulator::readFromSlave(Slave& slave) {
    std::uint8_t buffer[512];
    for (;;) {
        const ssize_t n = ::read(slave.master, buffer, sizeof buffer);
        if (n <= 0)
            return;
        slave.fromSlave.insert(slave.fromSlave.end(), buffer, buffer + n);
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
            for (const auto& slave : m_slaves)
                slave->toSlave.insert(slave->toSlave.end(), buffer, buffer + n);
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

void Simulator::writeToSlaves() {
    for (const auto& slave : m_slaves) {
        while (!slave->toSlave.empty()) {
            const ssize_t n = ::write(slave->master, slave->toSlave.data(), slave->toSlave.size());
            if (n <= 0)
                break;
            slave->toSlave.erase(slave->toSlave.begin(), slave->toSlave.begin() + n);
        }
    }
}

void Simulator::matchAnswers() {
    for (;;) {
        Pending pending;
        {
            const std::lock_guard lock(m_pendingMutex);
            if (m_pending.empty() ||
                m_slaves[m_pending.front().slave]->fromSlave.size() < m_pending.front().answerSize)
                return;
            pending = std::move(m_pending.front());
            m_pending.pop_front();
        }
        Bytes& from = m_slaves[pending.slave]->fromSlave;
        const auto end = from.begin() + static_cast<long>(pending.answerSize);
        const Bytes answer(from.begin(), end);
        from.erase(from.begin(), end);
        Delivery delivery = deliver(pending.plan, pending.request, answer);
        delivery.log = linePrefix(m_slaves[pending.slave]->address) + delivery.log;
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
        if (m_options.checkBaud && !m_options.link.empty() &&
            !lineAtBaud(m_endpoint.fd(), m_options.baud)) {
            // The master changed speed while this answer was on its way: it
            // would hear framing errors, not an answer.
            if (!out.log.empty())
                m_log.line("garbled, the line at another speed: " + out.log);
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
    for (const auto& slave : m_slaves)
        slave->toSlave.clear();
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
        for (const auto& slave : m_slaves)
            storeRegisters(*slave, r[0], r[1], r[2]);
        m_log.line("script " + std::to_string(r[0]) + "," + std::to_string(r[1]) + "," +
                   std::to_string(r[2]));
    }
    if (!m_options.fixed && now - m_lastOvenTick >= ovenTick)
        tickOven(now);
}

void Simulator::tickOven(Clock::time_point now) {
    const double seconds = std::chrono::duration<double>(now - m_lastOvenTick).count();
    m_lastOvenTick = now;
    for (auto& each : m_slaves) {
        Slave& slave = *each;
        double setpoint = 0;
        {
            const std::lock_guard lock(m_registersMutex);
            setpoint = static_cast<std::int16_t>(slave.registers->tab_registers[1]) / 10.0;
        }
        slave.oven.advance(seconds * m_options.speed, setpoint);
        std::normal_distribution<double> noise(0.0, measurementNoise);
        const std::int16_t measured =
            toRegister((slave.oven.temperature() + noise(m_noiseRandom)) * 10);
        const std::int16_t power = toRegister(slave.oven.power());
        const std::lock_guard lock(m_registersMutex);
        slave.registers->tab_registers[0] = static_cast<std::uint16_t>(measured);
        slave.registers->tab_registers[2] = static_cast<std::uint16_t>(power);
    }
}

Simulator::Clock::time_point Simulator::stepTime(const ScriptStep& step) const {
    return m_started + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(step.atSeconds));
}

void Simulator::storeRegisters(Slave& slave, int measured, int setpoint, int power) {
    const std::lock_guard lock(m_registersMutex);
    slave.registers->tab_registers[0] = static_cast<std::uint16_t>(measured);
    slave.registers->tab_registers[1] = static_cast<std::uint16_t>(setpoint);
    slave.registers->tab_registers[2] = static_cast<std::uint16_t>(power);
}

} // namespace tksim
