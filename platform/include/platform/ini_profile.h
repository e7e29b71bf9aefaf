// Private-profile files on disk: single reads and writes, and a batch writer that reads
// once, applies many writes and replaces the file atomically.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ini_document.h"

namespace platform {

// The largest profile file read; a larger one is refused whole rather than held in memory.
inline constexpr std::size_t kMaxIniFileBytes = 16u << 20;

struct IniLoad {
    // The file's content; an empty document when the file does not exist; nothing when it
    // exists but is refused (see `problem`).
    std::optional<IniDocument> document;
    // Why the file was refused, for the log: not a regular file (a FIFO, a device, a folder),
    // no permission, an I/O error, larger than kMaxIniFileBytes, or binary (holds NUL bytes).
    std::string problem;
};

// Reads the file without ever blocking in open (a FIFO or a device is refused, not opened
// for reading) and without reading more than kMaxIniFileBytes.
IniLoad readIniFile(const std::string& path);
// readIniFile's document alone.
std::optional<IniDocument> loadIniFile(const std::string& path);

// One-shot reads with the profile defaults (missing or unreadable file, section or key).
std::string readProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view defaultValue);
int readProfileInt(const std::string& path, std::string_view section, std::string_view key,
                   int defaultValue);

// One key, one atomic rewrite of the file (created when missing; its folder must exist).
bool writeProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

// Replaces `path` with `content` so that a crash leaves either the old or the new file:
// temp file in the same folder, fsync, rename over the target, fsync of the folder.
bool replaceFileAtomically(const std::string& path, std::string_view content);

// Reads the file once; set() changes only memory; commit() replaces the file atomically.
// An abandoned batch (destroyed without commit) leaves the file untouched. When the file
// exists but could not be read, commit() refuses, so a partial view never overwrites it.
class IniBatchWriter {
public:
    explicit IniBatchWriter(std::string path);

    bool loaded() const { return m_loaded; }
    const IniDocument& document() const { return m_document; }
    IniDocument& document() { return m_document; }

    bool set(std::string_view section, std::string_view key, std::string_view value) {
        return m_document.set(section, key, value);
    }
    bool setInt(std::string_view section, std::string_view key, long long value) {
        return m_document.setInt(section, key, value);
    }
    bool commit();

private:
    std::string m_path;
    IniDocument m_document;
    bool m_loaded = false;
};

}  // namespace platform
