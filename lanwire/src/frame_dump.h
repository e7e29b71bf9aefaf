// A frame dump file ("testNote.ini", "sendNote.ini"): one INI key per frame, appended, and
// moved aside to "<name>.1" when it would grow beyond a size limit.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <span>
#include <string>

namespace lanwire {

class FrameDump {
public:
    // Each byte of a value is written as two upper-case hex digits and `separator`
    // (' ' for received frames, '.' for sent ones).
    FrameDump(std::string section, char separator);
    ~FrameDump();
    FrameDump(const FrameDump&) = delete;
    FrameDump& operator=(const FrameDump&) = delete;

    enum class OpenResult { Opened, Symlink, Failed };
    // Opens (or creates, mode 0666 less the umask) `path` for appending; never through a
    // symbolic link. A write failure later only loses lines.
    OpenResult open(const std::string& path, std::uintmax_t limit);
    void close();
    // Appends "<YYYYmmddHHMMSS>-<counter>=<bytes>" and increments the counter. Thread-safe.
    void write(std::span<const std::uint8_t> frame);

private:
    OpenResult openLocked();
    void rotateLocked();

    const std::string m_section;
    const char m_separator;
    std::mutex m_lock;
    std::string m_path;
    std::uintmax_t m_limit = 0;
    std::uintmax_t m_size = 0;
    std::FILE* m_file = nullptr;
    std::uint32_t m_counter = 0;  // never reset while the library is loaded
};

}  // namespace lanwire
