#include "Log.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tksim {

Log::~Log() {
    if (m_fd > 2)
        ::close(m_fd);
}

bool Log::openFile(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot write the log " + path + ": " + std::strerror(errno);
        return false;
    }
    m_fd = fd;
    return true;
}

void Log::line(const std::string& text) {
    const std::string whole = text + '\n';
    const std::lock_guard lock(m_mutex);
    std::size_t done = 0;
    while (done < whole.size()) {
        const ssize_t n = ::write(m_fd, whole.data() + done, whole.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // a log that cannot be written must not stop the controller
        done += static_cast<std::size_t>(n);
    }
}

} // namespace tksim
