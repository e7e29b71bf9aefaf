// The installed layout: the documentation folder relative to the program folder.
#include "public/install_layout.h"

#include <filesystem>
#include <system_error>

#ifndef VANTREL_DOC_FROM_BIN
#define VANTREL_DOC_FROM_BIN "../share/doc/vantrel"
#endif

namespace {

bool isFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

}  // namespace

std::string InstalledDocFolder(const std::string& programFolder) {
    return programFolder + VANTREL_DOC_FROM_BIN "/";
}

bool IsInstalledLayout(const std::string& programFolder) {
    std::error_code error;
    return !programFolder.empty() &&
           std::filesystem::is_directory(InstalledDocFolder(programFolder), error);
}

std::string HelpDocumentPath(const std::string& programFolder, const std::string& fileName) {
    const std::string beside = programFolder + fileName;
    if (isFile(beside)) return beside;
    const std::string installed = InstalledDocFolder(programFolder) + fileName;
    if (isFile(installed)) return installed;
    return beside;
}
