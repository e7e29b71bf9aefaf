// The web folder's files and nothing else: hostile targets name no file, the page's own files
// come with their types.
#include <gtest/gtest.h>

#include <fstream>

#include "static_files.h"
#include "testkit/wait_for.h"

namespace {

namespace fs = std::filesystem;

class StaticFiles : public ::testing::Test {
protected:
    void SetUp() override {
        root = dir.path() / "web";
        fs::create_directories(root / "js");
        write(root / "index.html", "<!doctype html>");
        write(root / "js" / "app.js", "export {};");
        write(root / ".hidden", "x");
        write(dir.path() / "secret.txt", "secret");  // beside the folder, never served
        fs::create_symlink(dir.path() / "secret.txt", root / "out.txt");
        fs::create_symlink(dir.path(), root / "up");
        fs::create_symlink(root / "js" / "app.js", root / "alias.js");  // stays inside
    }
    static void write(const fs::path& path, const std::string& text) {
        std::ofstream(path) << text;
    }
    webapi::Response get(const std::string& target,
                         webapi::http::verb verb = webapi::http::verb::get) {
        webapi::Request request{verb, target, 11};
        return webapi::staticResponse(root, request);
    }
    testkit::TempDir dir;
    fs::path root;
};

TEST_F(StaticFiles, HostileTargetsNameNoFile) {
    for (const char* target :
         {"/../secret.txt", "/js/../../secret.txt", "/%2e%2e/secret.txt", "/..%2fsecret.txt",
          "/js/%2E%2E/index.html", "//etc/passwd",
          "/"
          "\\..\\secret.txt",
          "/out.txt", "/up/secret.txt", "/.hidden", "/js/", "/js", "/./index.html",
          "/index.html%00.js", "/nothing.html", "etc/passwd", "", "/js//app.js", "/\x01"}) {
        EXPECT_FALSE(webapi::staticFilePath(root, target)) << target;
        EXPECT_EQ(get(target).result_int(), 404) << target;
    }
}

TEST_F(StaticFiles, ServesThePagesFilesWithTheirTypes) {
    struct Case {
        const char* target;
        const char* type;
        const char* body;
    };
    for (const Case& c : {Case{"/", "text/html; charset=utf-8", "<!doctype html>"},
                          Case{"/index.html?x=../y", "text/html; charset=utf-8", "<!doctype html>"},
                          Case{"/js/app.js", "text/javascript; charset=utf-8", "export {};"},
                          Case{"/alias.js", "text/javascript; charset=utf-8", "export {};"}}) {
        const auto response = get(c.target);
        EXPECT_EQ(response.result_int(), 200) << c.target;
        EXPECT_EQ(response[webapi::http::field::content_type], c.type) << c.target;
        EXPECT_EQ(response.body(), c.body) << c.target;
    }
    EXPECT_EQ(webapi::contentType("a.css"), "text/css; charset=utf-8");
    EXPECT_EQ(webapi::contentType("a.bin"), "application/octet-stream");
    EXPECT_EQ(get("/index.html", webapi::http::verb::post).result_int(), 405);
}

}  // namespace
