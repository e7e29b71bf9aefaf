// Fuzz target: text from devices and operators reaches InsertLogOb inside a log line and as a
// whole line. The store must keep such content verbatim (no SQL is ever built from it) and
// split a raw line exactly as ParseLogLine says.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "logbase/log_line.h"
#include "logbase/logbase.h"
#include "platform/utf_codec.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

struct Row {
    std::string type, childType, content;
};

Row lastRow() {
    LogObLockLogbase();
    auto statement = LogObQueryStatement(
        "SELECT LogType, LogChildType, LogContent FROM Log ORDER BY rowid DESC LIMIT 1");
    LogObUnlockLogbase();
    check(statement && statement->NextRow());
    return {statement->ValueUtf8(0), statement->ValueUtf8(1), statement->ValueUtf8(2)};
}

// In memory where the system offers it: every insert commits, and a commit's sync to a disk
// would bound the fuzzer at a few hundred runs a second.
char g_folder[] = "/dev/shm/vantrel-logstore-fuzz-XXXXXX";
char g_diskFolder[] = "/tmp/vantrel-logstore-fuzz-XXXXXX";
char* g_used = g_folder;

// The database lives only as long as the fuzzing process.
void removeStore() {
    ReleaseLogbaseModule();
    std::error_code ignored;
    std::filesystem::remove_all(g_used, ignored);
}

bool openStore() {
    if (!mkdtemp(g_folder)) {
        g_used = g_diskFolder;
        if (!mkdtemp(g_diskFolder)) return false;
    }
    std::atexit(removeStore);
    return InitLogbaseModule(g_used, "Vantrel_DB.db3");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool opened = openStore();
    static unsigned calls = 0;
    check(opened);
    // printf's %s ends at the first zero byte, so does the content.
    std::string content(reinterpret_cast<const char*>(data), size);
    content.resize(content.find('\0') == std::string::npos ? size : content.find('\0'));

    InsertLogOb("%d,%d,'%s'", 3, 8, content.c_str());
    const Row row = lastRow();
    check(row.type == "3" && row.childType == "8");
    // The line's closing quote ends the content; everything before it is kept as typed, but
    // for malformed UTF-8, which is stored as U+FFFD.
    const LogLine expected = ParseLogLine("3,8,'" + content + "'");
    check(row.content == platform::toValidUtf8(expected.content));

    // The typed entry point, given the raw bytes, stores the same row.
    logEvent(3, 8, std::string_view(reinterpret_cast<const char*>(data), size));
    const Row typed = lastRow();
    check(typed.type == row.type && typed.childType == row.childType &&
          typed.content == row.content);

    InsertLogOb("%s", content.c_str());
    const LogLine raw = ParseLogLine(content);
    check(lastRow().content == platform::toValidUtf8(raw.content));

    // Keep the database small over millions of runs.
    if (++calls % 5000 == 0) {
        LogObLockLogbase();
        check(LogObBeginTrans() && LogObExecuteLogbase("DELETE FROM Log") && LogObCommitTrans());
        LogObUnlockLogbase();
    }
    return 0;
}
