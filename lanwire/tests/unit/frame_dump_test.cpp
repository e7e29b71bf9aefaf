// Frame dump files: line format, appending to an existing file, rotation, concurrent writers,
// frames lost to a full disk.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "frame_dump.h"
#include "testkit/file_size_cap.h"
#include "testkit/wait_for.h"

using lanwire::FrameDump;

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

}  // namespace

TEST(FrameDump, WritesOneKeyPerFrameUnderItsSection) {
    testkit::TempDir dir;
    FrameDump recv("NetData", ' ');
    FrameDump sent("SendDataNote", '.');
    recv.open(dir.file("testNote.ini"), 1 << 20);
    sent.open(dir.file("sendNote.ini"), 1 << 20);
    const std::vector<std::uint8_t> frame = {0xFE, 0x0A, 0x00};
    recv.write(frame);
    recv.write(frame);
    sent.write(frame);
    recv.close();
    sent.close();
    const auto r = lines(slurp(dir.file("testNote.ini")));
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0], "[NetData]");
    EXPECT_TRUE(std::regex_match(r[1], std::regex(R"(^\d{14}-0=FE 0A 00 $)"))) << r[1];
    EXPECT_TRUE(std::regex_match(r[2], std::regex(R"(^\d{14}-1=FE 0A 00 $)"))) << r[2];
    const auto s = lines(slurp(dir.file("sendNote.ini")));
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0], "[SendDataNote]");
    EXPECT_TRUE(std::regex_match(s[1], std::regex(R"(^\d{14}-0=FE\.0A\.00\.$)"))) << s[1];
}

TEST(FrameDump, AppendsToItsOwnFileAndAddsTheSectionToAForeignOne) {
    testkit::TempDir dir;
    {
        std::ofstream(dir.file("own.ini")) << "[NetData]\n20240101000000-0=AA \n";
        std::ofstream(dir.file("foreign.ini")) << "[Other]\nx=1";  // no final line break
    }
    FrameDump own("NetData", ' ');
    own.open(dir.file("own.ini"), 1 << 20);
    own.write(std::vector<std::uint8_t>{0xBB});
    own.close();
    const auto o = lines(slurp(dir.file("own.ini")));
    ASSERT_EQ(o.size(), 3u);
    EXPECT_EQ(o[0], "[NetData]");
    EXPECT_TRUE(std::regex_match(o[2], std::regex(R"(^\d{14}-0=BB $)"))) << o[2];

    FrameDump foreign("NetData", ' ');
    foreign.open(dir.file("foreign.ini"), 1 << 20);
    foreign.write(std::vector<std::uint8_t>{0xCC});
    foreign.close();
    const auto f = lines(slurp(dir.file("foreign.ini")));
    ASSERT_EQ(f.size(), 4u);
    EXPECT_EQ(f[1], "x=1");
    EXPECT_EQ(f[2], "[NetData]");
    EXPECT_TRUE(std::regex_match(f[3], std::regex(R"(^\d{14}-0=CC $)"))) << f[3];
}

TEST(FrameDump, RotatesAtTheLimitAndKeepsCounting) {
    testkit::TempDir dir;
    const std::string path = dir.file("testNote.ini");
    FrameDump dump("NetData", ' ');
    constexpr std::uintmax_t kLimit = 300;
    dump.open(path, kLimit);
    const std::vector<std::uint8_t> frame(20, 0x11);  // 60 value characters per line
    for (int i = 0; i < 20; ++i) dump.write(frame);
    dump.close();
    EXPECT_LE(std::filesystem::file_size(path), kLimit);
    ASSERT_TRUE(std::filesystem::exists(path + ".1"));
    EXPECT_LE(std::filesystem::file_size(path + ".1"), kLimit);
    const auto current = lines(slurp(path));
    const auto previous = lines(slurp(path + ".1"));
    EXPECT_EQ(current[0], "[NetData]");
    EXPECT_EQ(previous[0], "[NetData]");
    // The newest key in the current file carries counter 19: rotation does not reset it.
    EXPECT_TRUE(std::regex_search(current.back(), std::regex(R"(-19=)"))) << current.back();
}

TEST(FrameDump, ConcurrentWritersNeverShareOrLoseAKey) {
    testkit::TempDir dir;
    FrameDump dump("NetData", ' ');
    dump.open(dir.file("testNote.ini"), 64u << 20);
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&dump, t] {
            const std::vector<std::uint8_t> frame(26, static_cast<std::uint8_t>(t));
            for (int i = 0; i < 500; ++i) dump.write(frame);
        });
    }
    for (auto& w : writers) w.join();
    dump.close();
    const auto all = lines(slurp(dir.file("testNote.ini")));
    ASSERT_EQ(all.size(), 2001u);
    std::set<int> counters;
    const std::regex key(R"(^\d{14}-(\d+)=((?:[0-9A-F]{2} ){26})$)");
    for (std::size_t i = 1; i < all.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(all[i], m, key)) << all[i];
        counters.insert(std::stoi(m[1].str()));
    }
    EXPECT_EQ(counters.size(), 2000u);
    EXPECT_EQ(*counters.rbegin(), 1999);
}

TEST(FrameDump, AnUnwritableFolderLosesLinesButKeepsCounting) {
    testkit::TempDir dir;
    FrameDump dump("NetData", ' ');
    EXPECT_EQ(dump.open("/nonexistent-folder-for-vantrel/testNote.ini", 1000),
              FrameDump::OpenResult::Failed);
    dump.write(std::vector<std::uint8_t>{1, 2, 3});
    const std::string path = dir.path().string() + "/testNote.ini";
    ASSERT_EQ(dump.open(path, 1000), FrameDump::OpenResult::Opened);
    dump.write(std::vector<std::uint8_t>{4});
    dump.close();
    const auto all = lines(slurp(path));
    ASSERT_EQ(all.size(), 2u);
    EXPECT_TRUE(std::regex_match(all[1], std::regex(R"(\d{14}-1=04 )"))) << all[1];
}

TEST(FrameDump, APlantedSymlinkIsRefusedAndNewFilesFollowTheUmask) {
    testkit::TempDir dir;
    const std::string target = dir.path().string() + "/target";
    { std::ofstream(target) << "keep\n"; }
    const std::string planted = dir.path().string() + "/testNote.ini";
    std::filesystem::create_symlink(target, planted);
    FrameDump dump("NetData", ' ');
    EXPECT_EQ(dump.open(planted, 1000), FrameDump::OpenResult::Symlink);
    dump.write(std::vector<std::uint8_t>{1});
    EXPECT_EQ(slurp(target), "keep\n");

    const mode_t saved = ::umask(027);
    const std::string fresh = dir.path().string() + "/sendNote.ini";
    const auto result = dump.open(fresh, 1000);
    ::umask(saved);
    ASSERT_EQ(result, FrameDump::OpenResult::Opened);
    dump.close();
    const auto perms = std::filesystem::status(fresh).permissions();
    EXPECT_EQ(static_cast<unsigned>(perms), 0640u);
}

TEST(FrameDump, FramesLostWhileTheDiskIsFullAreCountedAndToldWhenWritingResumes) {
    testkit::TempDir dir;
    const std::string path = dir.file("testNote.ini");
    FrameDump dump("NetData", ' ');
    std::vector<std::pair<std::string, std::uint64_t>> reports;
    dump.setLossReporter(
        [&](const std::string& file, std::uint64_t lost) { reports.emplace_back(file, lost); });
    ASSERT_EQ(dump.open(path, 1 << 20), FrameDump::OpenResult::Opened);
    const std::vector<std::uint8_t> frame(20, 0x22);
    dump.write(frame);
    {
        // Room for a piece of a line, never a whole one.
        testkit::FileSizeCap full(std::filesystem::file_size(path) + 10);
        ASSERT_TRUE(full.set());
        for (int i = 0; i < 5; ++i) dump.write(frame);
    }
    EXPECT_TRUE(reports.empty()) << "nothing is told while writing still fails";
    dump.write(frame);
    dump.write(frame);
    dump.close();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].first, path);
    EXPECT_EQ(reports[0].second, 5u);
    // No piece of a lost line is left between the whole ones.
    const auto all = lines(slurp(path));
    ASSERT_EQ(all.size(), 4u);
    EXPECT_TRUE(std::regex_match(all[1], std::regex(R"(^\d{14}-0=(22 ){20}$)"))) << all[1];
    EXPECT_TRUE(std::regex_match(all[2], std::regex(R"(^\d{14}-6=(22 ){20}$)"))) << all[2];
    EXPECT_TRUE(std::regex_match(all[3], std::regex(R"(^\d{14}-7=(22 ){20}$)"))) << all[3];
}
