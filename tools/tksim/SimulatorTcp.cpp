// The simulator as a Modbus TCP gateway: libmodbus's own TCP server, on the
// main thread, with the oven model and the script as on the serial line.

#include "Simulator.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tksim {

namespace {

constexpr char listenAddress[] = "127.0.0.1";
// How many connections may wait to be accepted.
constexpr int backlog = 8;
// A request whose bytes stop coming is given up after this long, so one
// broken client cannot hold up the others for more.
constexpr std::uint32_t requestByteTimeoutMicroseconds = 500000;
// Exception 11: what a gateway answers for a unit id nothing answers behind it.
constexpr unsigned targetFailedToRespond = MODBUS_EXCEPTION_GATEWAY_TARGET;

int boundPort(int socket) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return -1;
    return ntohs(address.sin_port);
}

} // namespace

int Simulator::runTcp() {
    std::string error;
    if (!setUpSignals(error) || !setUpTcp(error)) {
        std::fprintf(stderr, "tksim: %s\n", error.c_str());
        return 1;
    }
    m_started = Clock::now();
    m_lastOvenTick = m_started;
    std::printf("tksim ready on tcp://%s:%d\n", listenAddress, boundPort(m_listenSocket));
    std::fflush(stdout);
    tcpLoop();
    return 0;
}

bool Simulator::setUpTcp(std::string& error) {
    for (std::size_t i = 0; i < m_slaves.size(); ++i) {
        const double setpoint =
            m_options.setpoints.size() == 1 ? m_options.setpoints.front() : m_options.setpoints[i];
        if (!setUpSlave(*m_slaves[i], setpoint, error))
            return false;
    }
    m_tcp = modbus_new_tcp(listenAddress, m_options.tcpPort);
    if (!m_tcp) {
        error = std::string("libmodbus cannot make its TCP server: ") + modbus_strerror(errno);
        return false;
    }
    m_listenSocket = modbus_tcp_listen(m_tcp, backlog);
    if (m_listenSocket < 0) {
        error = "cannot listen on " + std::string(listenAddress) + ":" +
                std::to_string(m_options.tcpPort) + ": " + modbus_strerror(errno);
        return false;
    }
    modbus_set_byte_timeout(m_tcp, 0, requestByteTimeoutMicroseconds);
    modbus_set_indication_timeout(m_tcp, 0, requestByteTimeoutMicroseconds);
    return true;
}

void Simulator::tcpLoop() {
    for (;;) {
        const auto now = Clock::now();
        const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(
                                std::max(nextDeadline(now) - now, Clock::duration{}))
                                .count();
        std::vector<pollfd> fds = {{signalFd(), POLLIN, 0}, {m_listenSocket, POLLIN, 0}};
        for (const int client : m_tcpClients)
            fds.push_back({client, POLLIN, 0});
        const int ready =
            ::poll(fds.data(), fds.size(), static_cast<int>(std::min<long long>(waitMs, INT_MAX)));
        if (ready < 0 && errno != EINTR)
            return;
        if (fds[0].revents && !takeSignals())
            return;
        if (fds[1].revents & POLLIN) {
            int listening = m_listenSocket;
            const int client = modbus_tcp_accept(m_tcp, &listening);
            if (client >= 0) {
                m_tcpClients.push_back(client);
                m_log.line("connected");
            }
        }
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            if (!serveTcpRequest(fds[i].fd)) {
                ::close(fds[i].fd);
                m_tcpClients.erase(std::find(m_tcpClients.begin(), m_tcpClients.end(), fds[i].fd));
                m_log.line("disconnected");
            }
        }
        runTimers(Clock::now());
    }
}

bool Simulator::serveTcpRequest(int socket) {
    std::uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH] = {};
    modbus_set_socket(m_tcp, socket);
    const int size = modbus_receive(m_tcp, query);
    if (size < 0)
        return errno == ETIMEDOUT || errno == EMBBADDATA || errno == EMBXILFUN;
    // The header is 7 bytes; the unit id, its last, stands where the RTU
    // address stands.
    const int headerBytes = modbus_get_header_length(m_tcp);
    if (size <= headerBytes)
        return true;
    const Bytes request(query + headerBytes - 1, query + size);
    const int unit = request[0];
    const auto slave = std::find_if(m_slaves.begin(), m_slaves.end(),
                                    [unit](const auto& s) { return s->address == unit; });
    if (slave == m_slaves.end()) {
        m_log.line("@" + std::to_string(unit) + " exception 11 " + describeRequest(request));
        modbus_reply_exception(m_tcp, query, targetFailedToRespond);
        return true;
    }
    const std::string prefix = "@" + std::to_string(unit) + " ";
    if (silentNow(unit)) {
        m_log.line(prefix + "silent " + describeRequest(request));
        return true;
    }
    const std::lock_guard lock(m_registersMutex);
    const int function = request[1];
    if (!writesOnlySetpoint(request)) {
        modbus_reply_exception(m_tcp, query, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
        m_log.line(prefix + "exception 2 " + describeRequest(request));
        return true;
    }
    if (function == 6 || function == 16) {
        for (const WriteRefusal& refusal : m_options.writeRefusals)
            if (refusal.address == 0 || refusal.address == unit) {
                modbus_reply_exception(m_tcp, query, static_cast<unsigned>(refusal.code));
                m_log.line(prefix + "exception " + std::to_string(refusal.code) + " " +
                           describeRequest(request));
                return true;
            }
    }
    if (modbus_reply(m_tcp, query, size, (*slave)->registers) < 0) {
        m_log.line(prefix + "error " + modbus_strerror(errno) + " " + describeRequest(request));
        return errno != EPIPE && errno != ECONNRESET;
    }
    const auto* r = (*slave)->registers->tab_registers;
    const bool poll = function == 3 && request.size() >= 6 && request[2] == 0 && request[3] == 1 &&
                      request[4] == 0 && request[5] == 3;
    if (poll)
        m_log.line(prefix + "answer " + std::to_string(std::int16_t(r[0])) + " " +
                   std::to_string(std::int16_t(r[1])) + " " + std::to_string(std::int16_t(r[2])));
    else
        m_log.line(prefix + describeRequest(request));
    return true;
}

} // namespace tksim
