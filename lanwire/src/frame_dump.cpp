// Frame dump files with their key and value formats.
#include "frame_dump.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <utility>

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

// Appends all of `text`; on a failure cuts the file back to `size`, so that no piece of a
// line is left for the next line to run into.
bool appendAll(int fd, const std::string& text, std::uintmax_t size) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // Nothing better to do if even this fails: the next line then starts after it.
            if (done > 0) {
                [[maybe_unused]] const int cut = ::ftruncate(fd, static_cast<off_t>(size));
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

FrameDump::FrameDump(std::string section, char separator)
    : m_section(std::move(section)), m_separator(separator) {}

FrameDump::~FrameDump() {
    close();
}

FrameDump::OpenResult FrameDump::open(const std::string& path, std::uintmax_t limit) {
    std::lock_guard<std::mutex> guard(m_lock);
    closeLocked();
    m_path = path;
    m_limit = limit;
    const OpenResult result = openLocked();
    m_retryOpen = result == OpenResult::Failed;
    return result;
}

void FrameDump::close() {
    std::lock_guard<std::mutex> guard(m_lock);
    closeLocked();
    m_retryOpen = false;
}

void FrameDump::closeLocked() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
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
    std::string prefix;
    if (!endsWithNewline) prefix += "\n";
    if (!ours) prefix += header + "\n";
    if (!prefix.empty()) {
        if (!appendAll(fd, prefix, m_size)) {
            ::close(fd);  // keys without their section would land in someone else's
            return OpenResult::Failed;
        }
        m_size += prefix.size();
    }
    m_fd = fd;
    return OpenResult::Opened;
}

void FrameDump::rotateLocked() {
    closeLocked();
    std::error_code ec;
    std::filesystem::rename(m_path, m_path + ".1", ec);
    if (ec) std::filesystem::remove(m_path, ec);
    m_retryOpen = openLocked() == OpenResult::Failed;
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

    std::uint64_t lostBefore = 0;
    std::string path;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const std::uint32_t counter = m_counter++;
        // A file that could not be opened (full disk, missing folder) is tried again; a
        // refused one (a planted link) is not.
        if (m_fd < 0 && m_retryOpen) m_retryOpen = openLocked() == OpenResult::Failed;
        if (m_fd < 0) {
            if (m_retryOpen) ++m_lost;
            return;
        }
        std::string line = stamp;
        line += '-';
        line += std::to_string(counter);
        line += '=';
        line += value;
        line += '\n';
        if (m_limit > 0 && m_size + line.size() > m_limit) {
            rotateLocked();
            if (m_fd < 0) {
                if (m_retryOpen) ++m_lost;
                return;
            }
        }
        if (!appendAll(m_fd, line, m_size)) {
            ++m_lost;
            return;
        }
        m_size += line.size();
        if (m_lost > 0 && m_lossReporter) {
            lostBefore = std::exchange(m_lost, 0);
            path = m_path;
        }
    }
    // Writing works again: say how many frames the dump is missing.
    if (lostBefore > 0) m_lossReporter(path, lostBefore);
}

}  // namespace lanwire
