// The process the crash tests kill with SIGKILL. It works in a loop and reports its progress
// on stdout, one line per step, so the test can kill it at a chosen moment:
//   fault_crash_child save <folder>   saves two task lists in turn; "saving <n>" before each
//   fault_crash_child log <folder> <tag>  logs rows "<tag> row <n>"; "stored <n>" once rows
//                                         0..n-1 are in the database
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "chronstore/chronstore.h"
#include "logbase/logbase.h"

namespace {

void report(const std::string& line) {
    const std::string text = line + "\n";
    // Unbuffered: the line must be out before the next step starts.
    if (::write(STDOUT_FILENO, text.data(), text.size()) < 0) _exit(3);
}

TimTaskPoint_ task(const char* name, int index, int devices) {
    TimTaskPoint_ t;
    SetTimNameUtf8(t, name);
    t.ttEnable = 1;
    t.ttType = kTaskWeekMode;
    t.monday = true;
    t.statime = static_cast<std::uint32_t>(index * 60);
    t.endtime = t.statime + 30;
    for (int k = 0; k < devices; ++k) {
        DeviceOnOff_ d;
        d.devID = static_cast<std::uint16_t>(100 + k);
        d.devLED[k % 16] = 1;
        t.devList.push_back(d);
    }
    return t;
}

void storeVersion(const char* name, int devices) {
    ReleaseChronstore();
    for (int i = 0; i < 300; ++i) PlusTTPoint(task(name, i, devices));
}

int saveLoop(const std::string& folder) {
    if (!InitChronstoreAt(folder)) return 2;
    for (long n = 0;; ++n) {
        storeVersion(n % 2 ? "B" : "A", n % 2 ? 4 : 10);
        report("saving " + std::to_string(n));
        if (!SaveTimPointToFile()) return 2;
    }
}

int logLoop(const std::string& folder, const std::string& tag) {
    if (!InitLogbaseModule(folder, "Vantrel_DB.db3")) return 2;
    for (long n = 0;;) {
        for (int k = 0; k < 50; ++k, ++n) {
            InsertLogOb("%d,%d,'%s row %ld'", 2, 8, tag.c_str(), n);
        }
        // A query stores every line logged before it.
        LogObLockLogbase();
        const bool stored = LogObQueryStatement("SELECT 1") != nullptr;
        LogObUnlockLogbase();
        if (!stored) return 2;
        report("stored " + std::to_string(n));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "save") == 0) return saveLoop(argv[2]);
    if (argc >= 4 && std::strcmp(argv[1], "log") == 0) return logLoop(argv[2], argv[3]);
    std::fprintf(stderr, "usage: fault_crash_child save <folder> | log <folder> <tag>\n");
    return 1;
}
