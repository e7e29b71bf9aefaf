// Private-profile files on disk: whole-file reads and atomic whole-file replacement.
#include "platform/ini_profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace platform {

namespace {

// Closes a descriptor on every path out of a function.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    // Closes now and reports whether the close succeeded (a late write error shows here).
    bool close() {
        const int fd = std::exchange(m_fd, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

enum class ReadResult { Ok, Missing, Failed };

ReadResult readWholeFile(const std::string& path, std::string& out, std::string& problem) {
    // O_NONBLOCK: opening a FIFO for reading would wait for a writer; it is refused below.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        if (errno == ENOENT) return ReadResult::Missing;
        problem = std::strerror(errno);
        return ReadResult::Failed;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        problem = std::strerror(errno);
        return ReadResult::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        problem = S_ISDIR(st.st_mode) ? "是文件夹,不是普通文件" : "不是普通文件";
        return ReadResult::Failed;
    }
    const std::string tooLarge = "大于" + std::to_string(kMaxIniFileBytes >> 20) + " MiB";
    if (static_cast<unsigned long long>(st.st_size) > kMaxIniFileBytes) {
        problem = tooLarge;
        return ReadResult::Failed;
    }
    out.clear();
    out.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            problem = std::strerror(errno);
            return ReadResult::Failed;
        }
        // The file may have grown since fstat.
        if (out.size() + static_cast<std::size_t>(n) > kMaxIniFileBytes) {
            problem = tooLarge;
            return ReadResult::Failed;
        }
        out.append(buffer, static_cast<std::size_t>(n));
    }
    if (out.find('\0') != std::string::npos) {
        problem = "二进制文件,不是文本";
        return ReadResult::Failed;
    }
    return ReadResult::Ok;
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

IniLoad readIniFile(const std::string& path) {
    IniLoad load;
    std::string text;
    switch (readWholeFile(path, text, load.problem)) {
        case ReadResult::Ok:
            load.document = IniDocument::parse(text);
            break;
        case ReadResult::Missing:
            load.document = IniDocument{};
            break;
        case ReadResult::Failed:
            break;
    }
    return load;
}

std::optional<IniDocument> loadIniFile(const std::string& path) {
    return readIniFile(path).document;
}

std::string readProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view defaultValue) {
    const auto doc = loadIniFile(path);
    return doc ? doc->getString(section, key, defaultValue) : std::string(defaultValue);
}

int readProfileInt(const std::string& path, std::string_view section, std::string_view key,
                   int defaultValue) {
    const auto doc = loadIniFile(path);
    return doc ? doc->getInt(section, key, defaultValue) : defaultValue;
}

bool writeProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
    IniBatchWriter batch(path);
    return batch.set(section, key, value) && batch.commit();
}

bool replaceFileAtomically(const std::string& path, std::string_view content) {
    // Keep the permissions of the file being replaced; a new file gets rw-r--r--.
    mode_t mode = 0644;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return false;
        mode = st.st_mode & 07777;
    }

    std::vector<char> tempName(path.begin(), path.end());
    const std::string_view suffix = ".tmp-XXXXXX";
    tempName.insert(tempName.end(), suffix.begin(), suffix.end());
    tempName.push_back('\0');
    FileDescriptor fd(::mkostemp(tempName.data(), O_CLOEXEC));
    if (fd.get() < 0) return false;

    const bool written = writeAll(fd.get(), content) && ::fchmod(fd.get(), mode) == 0 &&
                         ::fsync(fd.get()) == 0 && fd.close();
    if (!written || ::rename(tempName.data(), path.c_str()) != 0) {
        ::unlink(tempName.data());
        return false;
    }
    // Make the rename itself durable.
    FileDescriptor folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) return false;
    return ::fsync(folder.get()) == 0;
}

IniBatchWriter::IniBatchWriter(std::string path) : m_path(std::move(path)) {
    if (auto doc = loadIniFile(m_path)) {
        m_document = std::move(*doc);
        m_loaded = true;
    }
}

bool IniBatchWriter::commit() {
    if (!m_loaded) return false;
    return replaceFileAtomically(m_path, m_document.toText());
}

}  // namespace platform
