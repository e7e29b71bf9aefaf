// The web console's files, served from the program's own web folder and nowhere else.
#pragma once

#include <boost/asio/thread_pool.hpp>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "http_server.h"

namespace webapi {

// The web folder: "web/" beside the program (a build tree), else the installed one
// ("../share/vantrel/web/" from the program folder). `programFolder` ends with '/'.
std::filesystem::path webFolder(const std::string& programFolder);

// The regular file under `root` that the request target names ("/" is index.html), or none:
// a query is ignored; a name segment is letters, digits, '-', '_' and '.', never starting with
// '.' (no "..", no hidden files) and nothing is decoded, so "%2e%2e" and absolute or backslash
// paths name nothing; a symbolic link that leads out of `root` names nothing either.
std::optional<std::filesystem::path> staticFilePath(const std::filesystem::path& root,
                                                    std::string_view target);

// The Content-Type of a file by its extension (application/octet-stream when unknown).
std::string_view contentType(const std::filesystem::path& file);

// GET of a file under `root`: the file, 404 when there is none, 405 for other methods.
Response staticResponse(const std::filesystem::path& root, const Request& request);

// Answers `request` from the program's web folder, reading the file on `pool`.
void serveStatic(boost::asio::thread_pool& pool, Request&& request, const Reply& to);

}  // namespace webapi
