// Frame dump files with their key and value formats.
#include "frame_dump.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <filesystem>

namespace lanwire {

namespace {

// True when the last section header of the open file is `header` (our own file); tells
// whether the file ends with a line break, so appended keys land in our section.
bool endsInSection(int fd, const std::string& header, bool& endsWithNewline) {
    std::string text;
    char buffer[65536];
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        offset += n;
    }
    endsWithNewline = text.empty() || text.back() == '\n';
    std::string lastHeader;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '[') lastHeader = line;
        start = end + 1;
    }
    return lastHeader == header;
}

}  // namespace

FrameDump::FrameDump(std::string section, char separator)
    : m_section(std::move(section)), m_separator(separator) {}

FrameDump::~FrameDump() {
    close();
}

FrameDump::OpenResult FrameDump::open(const std::string& path, std::uintmax_t limit) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_file != nullptr) std::fclose(m_file);
    m_file = nullptr;
    m_path = path;
    m_limit = limit;
    return openLocked();
}

void FrameDump::close() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_file != nullptr) std::fclose(m_file);
    m_file = nullptr;
}

FrameDump::OpenResult FrameDump::openLocked() {
    const std::string header = "[" + m_section + "]";
    // A link planted in the file's place is refused, not followed.
    const int fd =
        ::open(m_path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return errno == ELOOP ? OpenResult::Symlink : OpenResult::Failed;
    struct stat info {};
    m_size = ::fstat(fd, &info) == 0 ? static_cast<std::uintmax_t>(info.st_size) : 0;
    bool endsWithNewline = true;
    const bool ours = m_size > 0 && endsInSection(fd, header, endsWithNewline);
    m_file = ::fdopen(fd, "ab");
    if (m_file == nullptr) {
        ::close(fd);
        return OpenResult::Failed;
    }
    std::string prefix;
    if (!endsWithNewline) prefix += "\n";
    if (!ours) prefix += header + "\n";
    if (!prefix.empty()) {
        std::fwrite(prefix.data(), 1, prefix.size(), m_file);
        std::fflush(m_file);
        m_size += prefix.size();
    }
    return OpenResult::Opened;
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
