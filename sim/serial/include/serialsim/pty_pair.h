// A pseudo-terminal pair in raw mode: the serial link opens the slave by its path, the
// simulated device (or a test) talks on the master.
#pragma once

#include <string>

namespace serialsim {

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool valid() const { return m_master >= 0 && m_slave >= 0; }
    int master() const { return m_master; }
    // Kept open for the pair's life so the master never sees a hang-up between two opens of
    // the slave by the code under test.
    int slave() const { return m_slave; }
    const std::string& slavePath() const { return m_slavePath; }

    // Closes both ends: the port side then gets I/O errors, like an unplugged adapter.
    void hangUp();

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
};

}  // namespace serialsim
