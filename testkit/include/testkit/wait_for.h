// Test helper: wait until a condition holds instead of sleeping and hoping.
#pragma once

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

namespace testkit {

// Re-checks `condition` until it holds or `timeout` passes; returns whether it held.
// The short re-check interval only bounds how late a test notices; the timeout is generous
// on purpose so slow sanitizer builds on two cores do not fail spuriously.
template <typename Condition>
bool waitFor(Condition&& condition,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A fresh temporary folder that is removed with everything in it when the object dies.
class TempDir {
public:
    TempDir() {
        std::random_device rd;
        m_path = std::filesystem::temp_directory_path() /
                 ("vantrel-test-" + std::to_string(rd()) + "-" + std::to_string(rd()));
        std::filesystem::create_directories(m_path);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

}  // namespace testkit
