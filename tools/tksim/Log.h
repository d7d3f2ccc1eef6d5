#pragma once

// The request log: one line per request, written whole with one write so that
// the libmodbus thread and the relay never interleave, and so that a test
// reading the file sees complete lines only.

#include <mutex>
#include <string>

namespace tksim {

class Log {
public:
    Log() = default;
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // Sends the log to a file, emptied first; without it lines go to stderr.
    bool openFile(const std::string& path, std::string& error);
    void line(const std::string& text);

private:
    std::mutex m_mutex;
    int m_fd = 2;
};

} // namespace tksim
