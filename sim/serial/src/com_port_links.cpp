// Symbolic links standing in for COM ports.
#include "serialsim/com_port_links.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/serial_ports.h"

namespace serialsim {

ComPortLinks::ComPortLinks(int highestCom)
    : m_dir(std::filesystem::temp_directory_path() / ("vantrel-com-" + std::to_string(getpid()))) {
    std::error_code ec;
    std::filesystem::create_directories(m_dir, ec);
    std::string mapping;
    for (int com = 1; com <= highestCom; ++com) {
        if (!mapping.empty()) mapping += ',';
        mapping += std::to_string(com) + "=" + linkPath(com).string();
    }
    setenv(platform::kComPortsVariable, mapping.c_str(), 1);
}

ComPortLinks::~ComPortLinks() {
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

std::filesystem::path ComPortLinks::linkPath(int com) const {
    return m_dir / ("com" + std::to_string(com));
}

bool ComPortLinks::link(int com, const std::string& devicePath) {
    unlink(com);
    std::error_code ec;
    std::filesystem::create_symlink(devicePath, linkPath(com), ec);
    return !ec;
}

void ComPortLinks::unlink(int com) {
    std::error_code ec;
    std::filesystem::remove(linkPath(com), ec);
}

}  // namespace serialsim
