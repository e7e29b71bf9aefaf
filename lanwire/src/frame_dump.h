// A frame dump file ("testNote.ini", "sendNote.ini"): one INI key per frame, appended, and
// moved aside to "<name>.1" when it would grow beyond a size limit.
#pragma once

#include <cstdint>
#include <functional>
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
    // symbolic link. Lines that cannot be written later (disk full) are counted and the count
    // told to the loss reporter once a line is written again; no piece of a line is left.
    OpenResult open(const std::string& path, std::uintmax_t limit);
    void close();
    // Appends "<YYYYmmddHHMMSS>-<counter>=<bytes>" and increments the counter. Thread-safe.
    void write(std::span<const std::uint8_t> frame);

    // Told, without the dump's lock, how many frames could not be written (disk full, I/O
    // error) once a frame is written again after them. Set before the first write.
    using LossReporter = std::function<void(const std::string& path, std::uint64_t lost)>;
    void setLossReporter(LossReporter reporter) { m_lossReporter = std::move(reporter); }

private:
    OpenResult openLocked();
    void closeLocked();
    void rotateLocked();

    const std::string m_section;
    const char m_separator;
    std::mutex m_lock;
    std::string m_path;
    std::uintmax_t m_limit = 0;
    std::uintmax_t m_size = 0;
    int m_fd = -1;
    bool m_retryOpen = false;     // the last open failed for a reason that may pass
    std::uint32_t m_counter = 0;  // never reset while the library is loaded
    std::uint64_t m_lost = 0;     // frames not written since the last line that was
    LossReporter m_lossReporter;
};

}  // namespace lanwire
