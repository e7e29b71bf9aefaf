// Points COM numbers at pseudo-terminals for tests: the COM-port override variable is set
// once, before any thread runs, to fixed link names in a temporary folder; each test then
// re-points a link at its own pseudo-terminal.
#pragma once

#include <filesystem>
#include <string>

namespace serialsim {

class ComPortLinks {
public:
    // Sets VANTREL_COM_PORTS for COM1..`highestCom` (construct it before starting threads,
    // e.g. as a static object of the test program).
    explicit ComPortLinks(int highestCom = 20);
    ~ComPortLinks();
    ComPortLinks(const ComPortLinks&) = delete;
    ComPortLinks& operator=(const ComPortLinks&) = delete;

    // COM`com` now opens `devicePath`; false when the link cannot be made.
    bool link(int com, const std::string& devicePath);
    // COM`com` names a path that does not exist.
    void unlink(int com);
    std::filesystem::path linkPath(int com) const;

private:
    std::filesystem::path m_dir;
};

}  // namespace serialsim
