// Static files of the web console: a strict name check first, then the real path must stay
// inside the folder, so neither "..", an encoded form of it nor a symbolic link reaches out.
#include "static_files.h"

#include <array>
#include <boost/asio/post.hpp>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>
#include <utility>

#include "public/work_path.h"

namespace webapi {

namespace {

// The installed web folder, relative to the program folder (`cmake --install`'s layout).
constexpr const char* kInstalledFromBin = "../share/vantrel/web";
// Nothing of the page is near this; a larger file is not one of ours.
constexpr std::uintmax_t kMaxFileBytes = 8 * 1024 * 1024;

bool nameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
}

bool safeSegment(std::string_view segment) {
    if (segment.empty() || segment.front() == '.' || segment.size() > 128) return false;
    for (char c : segment) {
        if (!nameChar(c)) return false;
    }
    return true;
}

bool inside(const std::filesystem::path& root, const std::filesystem::path& file) {
    auto r = root.begin();
    auto f = file.begin();
    for (; r != root.end(); ++r, ++f) {
        if (r->empty()) continue;  // the trailing "" of a root ending in '/'
        if (f == file.end() || *r != *f) return false;
    }
    return f != file.end();
}

}  // namespace

std::filesystem::path webFolder(const std::string& programFolder) {
    std::error_code error;
    const std::filesystem::path beside = std::filesystem::path(programFolder) / "web";
    if (std::filesystem::is_directory(beside, error)) return beside;
    return std::filesystem::path(programFolder) / kInstalledFromBin;
}

std::optional<std::filesystem::path> staticFilePath(const std::filesystem::path& root,
                                                    std::string_view target) {
    target = target.substr(0, target.find('?'));
    if (target.empty() || target.front() != '/') return std::nullopt;
    target.remove_prefix(1);
    std::filesystem::path relative;
    if (target.empty()) {
        relative = "index.html";
    } else {
        while (!target.empty()) {
            const auto slash = target.find('/');
            const std::string_view segment = target.substr(0, slash);
            if (!safeSegment(segment)) return std::nullopt;
            relative /= std::string(segment);
            if (slash == std::string_view::npos) break;
            target.remove_prefix(slash + 1);
            if (target.empty()) return std::nullopt;  // "dir/": no listings
        }
    }
    std::error_code error;
    const auto realRoot = std::filesystem::canonical(root, error);
    if (error) return std::nullopt;
    const auto realFile = std::filesystem::canonical(realRoot / relative, error);
    if (error || !inside(realRoot, realFile)) return std::nullopt;
    if (!std::filesystem::is_regular_file(realFile, error)) return std::nullopt;
    return realFile;
}

std::string_view contentType(const std::filesystem::path& file) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 10> kTypes{{
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".json", "application/json"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".ico", "image/x-icon"},
        {".txt", "text/plain; charset=utf-8"},
        {".woff2", "font/woff2"},
    }};
    const std::string extension = file.extension().string();
    for (const auto& [ending, type] : kTypes) {
        if (extension == ending) return type;
    }
    return "application/octet-stream";
}

Response staticResponse(const std::filesystem::path& root, const Request& request) {
    if (request.method() != http::verb::get) {
        return errorResponse(request, http::status::method_not_allowed, "method not allowed");
    }
    const auto file = staticFilePath(root, request.target());
    std::error_code error;
    if (!file || std::filesystem::file_size(*file, error) > kMaxFileBytes || error) {
        return errorResponse(request, http::status::not_found, "not found");
    }
    std::ifstream in(*file, std::ios::binary);
    std::string body{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in && !in.eof()) return errorResponse(request, http::status::not_found, "not found");
    Response response(http::status::ok, request.version());
    response.set(http::field::content_type, contentType(*file));
    // Every file comes from here: the page can reach no other host, nor be framed.
    response.set("Content-Security-Policy",
                 "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'");
    response.set("X-Content-Type-Options", "nosniff");
    response.set(http::field::cache_control, "no-cache");
    response.keep_alive(request.keep_alive());
    response.body() = std::move(body);
    return response;
}

void serveStatic(boost::asio::thread_pool& pool, Request&& request, const Reply& to) {
    static const std::filesystem::path root = webFolder(GetCurWorkPath());
    auto shared = std::make_shared<const Request>(std::move(request));
    boost::asio::post(pool, [shared, to] {
        answer(to, Answer{staticResponse(root, *shared), false});
    });
}

}  // namespace webapi
