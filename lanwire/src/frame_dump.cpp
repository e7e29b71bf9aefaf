// Frame dump files with their key and value formats.
#include "frame_dump.h"

#include <ctime>
#include <filesystem>
#include <fstream>

namespace lanwire {

namespace {

// True when the last section header of the file is `header` (our own file) and the file
// ends with a line break, so appended keys land in our section.
bool endsInSection(const std::string& path, const std::string& header, bool& endsWithNewline) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::string lastHeader;
    endsWithNewline = true;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '[') lastHeader = line;
        endsWithNewline = !in.eof();
    }
    return lastHeader == header;
}

}  // namespace

FrameDump::FrameDump(std::string section, char separator)
    : m_section(std::move(section)), m_separator(separator) {}

FrameDump::~FrameDump() {
    close();
}

void FrameDump::open(const std::string& path, std::uintmax_t limit) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_file != nullptr) std::fclose(m_file);
    m_file = nullptr;
    m_path = path;
    m_limit = limit;
    openLocked();
}

void FrameDump::close() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_file != nullptr) std::fclose(m_file);
    m_file = nullptr;
}

void FrameDump::openLocked() {
    const std::string header = "[" + m_section + "]";
    std::error_code ec;
    const auto existing = std::filesystem::file_size(m_path, ec);
    m_size = ec ? 0 : existing;
    bool endsWithNewline = true;
    const bool ours = m_size > 0 && endsInSection(m_path, header, endsWithNewline);
    m_file = std::fopen(m_path.c_str(), "ab");
    if (m_file == nullptr) return;
    std::string prefix;
    if (!endsWithNewline) prefix += "\n";
    if (!ours) prefix += header + "\n";
    if (!prefix.empty()) {
        std::fwrite(prefix.data(), 1, prefix.size(), m_file);
        std::fflush(m_file);
        m_size += prefix.size();
    }
}

void FrameDump::rotateLocked() {
    std::fclose(m_file);
    m_file = nullptr;
    std::error_code ec;
    std::filesystem::rename(m_path, m_path + ".1", ec);
    if (ec) std::filesystem::remove(m_path, ec);
    openLocked();
}

void FrameDump::write(std::span<const std::uint8_t> frame) {
    // Format outside the lock; only the counter and the file need it.
    std::string value;
    value.reserve(frame.size() * 3 + 1);
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (std::uint8_t byte : frame) {
        value += kHex[byte >> 4];
        value += kHex[byte & 0x0F];
        value += m_separator;
    }
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local);

    std::lock_guard<std::mutex> guard(m_lock);
    const std::uint32_t counter = m_counter++;
    if (m_file == nullptr) return;
    std::string line = stamp;
    line += '-';
    line += std::to_string(counter);
    line += '=';
    line += value;
    line += '\n';
    if (m_limit > 0 && m_size + line.size() > m_limit) {
        rotateLocked();
        if (m_file == nullptr) return;
    }
    std::fwrite(line.data(), 1, line.size(), m_file);
    std::fflush(m_file);
    m_size += line.size();
}

}  // namespace lanwire
