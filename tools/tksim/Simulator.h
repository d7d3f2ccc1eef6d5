#pragma once

// The simulated controllers, one per address. For each, libmodbus, on its own
// thread, is the Modbus RTU slave: it reads requests from the terminal side
// of an inner pseudo-terminal and writes its answers there. The main thread
// relays bytes between the inner pseudo-terminals and the master's line
// (Endpoint): every slave hears every request, as on an RS-485 pair, and
// each libmodbus keeps only those to its own address; and the relay is
// where answers are dropped, cut, corrupted, padded or slowed down, and where
// the line is unplugged. The oven model also runs on the main thread and
// writes the registers under the same lock libmodbus reads them with.

#include "Endpoint.h"
#include "Faults.h"
#include "Log.h"
#include "Options.h"
#include "OvenModel.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include <modbus.h>

namespace tksim {

class Simulator {
public:
    Simulator(const Options& options, Log& log);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Sets everything up, prints the ready line, and relays until SIGINT or
    // SIGTERM. Returns the process exit code.
    int run();

private:
    using Clock = std::chrono::steady_clock;

    // An answer libmodbus has written (or, for drop and unplug, will not
    // write) and the plan for it; queued in request order.
    struct Pending {
        std::size_t slave = 0;
        FaultPlan plan;
        Bytes request;
        std::size_t answerSize = 0;
    };
    // Bytes due on the master's line at a time; the log line is written once
    // the last of them has gone out.
    struct Outgoing {
        Clock::time_point due;
        Bytes bytes;
        std::string log;
    };

    // One controller of the line: its libmodbus, registers and oven.
    struct Slave {
        explicit Slave(int address, double room) : address(address), oven(room) {}
        int address;
        modbus_t* modbus = nullptr;
        modbus_mapping_t* registers = nullptr;
        int master = -1; // controlling side of the pty its libmodbus opened
        std::thread thread;
        Bytes toSlave;   // request bytes not yet written to its pty
        Bytes fromSlave; // answer bytes not yet matched with their Pending
        OvenModel oven;
    };

    bool setUp(std::string& error);
    bool setUpSignals(std::string& error);
    // The end of the pipe the signal handler writes to.
    static int signalFd();

    // Modbus TCP mode: one libmodbus TCP server on the main thread, each
    // request answered from the registers of the slave its unit id names.
    int runTcp();
    bool setUpTcp(std::string& error);
    void tcpLoop();
    // False when the connection ended.
    bool serveTcpRequest(int socket);
    bool setUpSlave(Slave& slave, double setpoint, std::string& error);
    void serveRequests(std::size_t index); // a libmodbus thread
    int reply(Slave& slave, const std::uint8_t* request, int size, const FaultPlan& plan);
    FaultPlan nextPlan(int address);
    bool serves(int address) const;
    // "@10 " before a log line about address 10 when there are several.
    std::string linePrefix(int address) const;
    bool silentNow(int address) const;
    void queuePending(Pending pending);

    void relayLoop();
    // Acts on the bytes the signal handler queued; false when asked to stop.
    bool takeSignals();
    // SIGUSR1: unplugs the line, or plugs it back in at once when it is out.
    void togglePlug();
    Clock::time_point nextDeadline(Clock::time_point now) const;
    static void readFromSlave(Slave& slave);
    void readFromLine();
    void writeToSlaves();
    void matchAnswers();
    void schedule(const Delivery& delivery, bool slow);
    void flushOutgoing(Clock::time_point now);
    void unplug(const std::string& why);
    void runTimers(Clock::time_point now);
    void tickOven(Clock::time_point now);
    void storeRegisters(Slave& slave, int measured, int setpoint, int power);
    Clock::time_point stepTime(const ScriptStep& step) const;

    Options m_options;
    Log& m_log;
    Endpoint m_endpoint;

    std::vector<std::unique_ptr<Slave>> m_slaves;
    std::mutex m_registersMutex; // of every slave's registers
    std::atomic<bool> m_stop{false};

    std::mutex m_pendingMutex;
    std::deque<Pending> m_pending;
    int m_wake[2] = {-1, -1};    // the libmodbus thread tells the relay a Pending is queued
    int m_nothing[2] = {-1, -1}; // never written: where libmodbus skips another slave's answer

    std::mutex m_faultMutex;    // the libmodbus threads draw in turn
    std::mt19937 m_faultRandom; // under m_faultMutex
    long m_faultsInjected = 0;  // under m_faultMutex
    std::mt19937 m_noiseRandom; // main thread only

    std::deque<Outgoing> m_outgoing;

    modbus_t* m_tcp = nullptr;
    int m_listenSocket = -1;
    std::vector<int> m_tcpClients;

    Clock::time_point m_lastOvenTick;
    std::optional<Clock::time_point> m_unplugAt;
    std::optional<Clock::time_point> m_replugAt;
    Clock::time_point m_started;
    std::size_t m_nextStep = 0; // of the script
};

} // namespace tksim
