// The data folder rule and the checks that make the chosen folder usable.
#include "public/data_folder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "public/install_layout.h"
#include "public/work_path.h"

namespace {

std::string withSlash(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder.back() != '/') folder += '/';
    return folder;
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// $HOME, or the account's home folder when HOME is unset.
std::string homeFolder() {
    std::string home = environment("HOME");
    if (!home.empty()) return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir) {
        home = found->pw_dir;
    }
    return home;
}

}  // namespace

std::string ChooseDataFolder(const DataFolderFacts& facts) {
    if (!facts.requested.empty()) return withSlash(facts.requested);
    if (facts.programFolderWritable && !facts.installed && !facts.programFolder.empty()) {
        return withSlash(facts.programFolder);
    }
    if (!facts.xdgDataHome.empty() && facts.xdgDataHome.front() == '/') {
        return withSlash(facts.xdgDataHome) + "vantrel/";
    }
    if (!facts.home.empty() && facts.home.front() == '/') {
        return withSlash(facts.home) + ".local/share/vantrel/";
    }
    return {};
}

DataFolderResult ResolveDataFolder(const std::string& requested) {
    namespace fs = std::filesystem;
    DataFolderFacts facts;
    std::error_code error;
    if (!requested.empty()) facts.requested = fs::absolute(requested, error).string();
    if (error) return {{}, "cannot use the data folder " + requested + ": " + error.message()};
    facts.programFolder = GetCurWorkPath();
    facts.programFolderWritable =
        !facts.programFolder.empty() && ::access(facts.programFolder.c_str(), W_OK) == 0;
    facts.installed = IsInstalledLayout(facts.programFolder);
    facts.xdgDataHome = environment("XDG_DATA_HOME");
    facts.home = homeFolder();

    const std::string folder = ChooseDataFolder(facts);
    if (folder.empty()) return {{}, "no data folder: HOME is not set (use --data-dir=DIR)"};
    fs::create_directories(folder, error);
    if (error) return {{}, "cannot create the data folder " + folder + ": " + error.message()};
    if (!fs::is_directory(folder, error)) {
        return {{}, "the data folder " + folder + " is not a folder"};
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        return {{}, "cannot write to the data folder " + folder};
    }
    return {folder, {}};
}
