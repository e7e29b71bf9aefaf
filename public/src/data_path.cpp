// The process-wide data folder, chosen once at start and read by every module that opens a
// file of its own.
#include "public/data_path.h"

#include <mutex>

#include "public/work_path.h"

namespace {

std::mutex& dataPathLock() {
    static std::mutex lock;
    return lock;
}

std::string& chosenDataPath() {
    static std::string path;
    return path;
}

}  // namespace

std::string GetDataPath() {
    {
        std::lock_guard<std::mutex> guard(dataPathLock());
        if (!chosenDataPath().empty()) return chosenDataPath();
    }
    return GetCurWorkPath();
}

void SetDataPath(const std::string& folder) {
    std::lock_guard<std::mutex> guard(dataPathLock());
    chosenDataPath() = folder;
    if (!folder.empty() && folder.back() != '/') chosenDataPath() += '/';
}
