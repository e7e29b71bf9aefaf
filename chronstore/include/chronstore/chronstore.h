// The timed-task store: the process-wide task list, its re-entrant lock and TimingTask.ini.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "chronstore/chronstore_export.h"
#include "chronstore/tim_task.h"

using TimTaskArray = std::vector<TimTaskPoint_>;

// Loads "TimingTask.ini" from the folder "TimingTask" in the data folder, creating that
// folder (one level) when missing. The text is not used. Always returns true.
CHRONSTORE_EXPORT bool InitChronstore(std::u16string_view unused = {});
// The same with the folder given (tests, tools); the file is <folder>/TimingTask.ini.
CHRONSTORE_EXPORT bool InitChronstoreAt(const std::string& folder);
// A file the last initialisation refused (it loaded as empty): its path and why, for the log.
struct ChronstoreLoadProblem {
    std::string path;
    std::string reason;
};
// The files the last InitChronstore/InitChronstoreAt refused ("TimingTask.ini", "Holidays.ini").
CHRONSTORE_EXPORT std::vector<ChronstoreLoadProblem> GetChronstoreLoadProblems();
// Empties the task list (the task-number counter carries on).
CHRONSTORE_EXPORT void ReleaseChronstore();
// Full path of the task file set by the last initialisation (empty before it).
CHRONSTORE_EXPORT std::string GetTTFilePath();

CHRONSTORE_EXPORT void TimTaskLock();
CHRONSTORE_EXPORT void TimTaskUnLock();

// The list itself; hold the store lock while using it or a reference into it.
CHRONSTORE_EXPORT TimTaskArray& GetTTPointArray();
// A snapshot that takes no lock; re-check it under the lock before indexing.
CHRONSTORE_EXPORT int GetTTPointCount();
// Throws std::invalid_argument for an index outside 0..count-1. Hold the store lock while
// the reference is used.
CHRONSTORE_EXPORT TimTaskPoint_& GetTTPointByIndex(int index);

// Add, change and remove take the lock themselves and do not save. ModifyTTPoint and
// RemoveTTPointByIdx throw std::invalid_argument for a bad index before changing anything.
CHRONSTORE_EXPORT void PlusTTPoint(TimTaskPoint_ task);
CHRONSTORE_EXPORT void ModifyTTPoint(int index, TimTaskPoint_ task);
CHRONSTORE_EXPORT void RemoveTTPointByIdx(int index);

// Writes every task to the file in one atomic replacement, under the store lock. Sections
// and device keys beyond the new counts stay as they were. Returns whether the file was
// written (callers may ignore it: the next start loads what is there).
CHRONSTORE_EXPORT bool SaveTimPointToFile();

// Holds the store lock for a scope.
class TimTaskGuard {
public:
    TimTaskGuard() { TimTaskLock(); }
    ~TimTaskGuard() { TimTaskUnLock(); }
    TimTaskGuard(const TimTaskGuard&) = delete;
    TimTaskGuard& operator=(const TimTaskGuard&) = delete;
};
