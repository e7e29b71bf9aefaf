// Caps the size of the files this process writes, as a full disk would, until destroyed:
// writes beyond the cap fail (EFBIG) instead of raising SIGXFSZ. Process-wide, so a test holds
// it only while nothing else of the process writes files.
#pragma once

#include <sys/resource.h>

#include <csignal>

namespace testkit {

class FileSizeCap {
public:
    explicit FileSizeCap(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_savedSignal = std::signal(SIGXFSZ, SIG_IGN);
        rlimit cap = m_saved;
        cap.rlim_cur = bytes;
        m_set = setrlimit(RLIMIT_FSIZE, &cap) == 0;
    }
    ~FileSizeCap() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_savedSignal);
    }
    FileSizeCap(const FileSizeCap&) = delete;
    FileSizeCap& operator=(const FileSizeCap&) = delete;
    bool set() const { return m_set; }

private:
    rlimit m_saved{};
    void (*m_savedSignal)(int) = SIG_DFL;
    bool m_set = false;
};

}  // namespace testkit
