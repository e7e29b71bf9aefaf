// The process-wide task list behind one re-entrant lock, loaded from and saved to
// TimingTask.ini.
#include <sys/stat.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>

#include "chronstore/chronstore.h"
#include "chronstore/holidays.h"
#include "holiday_file_io.h"
#include "platform/ini_profile.h"
#include "public/data_path.h"
#include "task_file_io.h"

namespace {

struct Store {
    std::recursive_mutex mutex;
    TimTaskArray tasks;
    std::string filePath;
    std::string holidayPath;
    HolidayList holidays;
    std::vector<ChronstoreLoadProblem> loadProblems;
    std::int32_t nextId = 1;    // numbers tasks loaded from the file
    std::atomic<int> count{0};  // readable without the lock
};

Store& store() {
    static Store instance;
    return instance;
}

void publishCount(Store& s) {
    s.count.store(static_cast<int>(s.tasks.size()));
}

void checkIndex(const Store& s, int index, const char* operation) {
    if (index < 0 || static_cast<std::size_t>(index) >= s.tasks.size())
        throw std::invalid_argument(std::string(operation) + ": task index " +
                                    std::to_string(index) + " out of range");
}

// The store owns a consistent record: the name is terminated, devCount matches devList.
void normalise(TimTaskPoint_& task) {
    task.timName[kTimNameUnits - 1] = u'\0';
    if (task.devList.size() > 0xFFFF) task.devList.resize(0xFFFF);
    task.devCount = static_cast<std::uint16_t>(task.devList.size());
}

}  // namespace

bool InitChronstore(std::u16string_view /*unused*/) {
    return InitChronstoreAt(GetDataPath() + "TimingTask");
}

bool InitChronstoreAt(const std::string& folder) {
    Store& s = store();
    std::lock_guard lock(s.mutex);
    ::mkdir(folder.c_str(), 0755);  // one level; a failure shows later as a failed save
    s.filePath = folder + "/TimingTask.ini";
    s.tasks.clear();
    s.loadProblems.clear();
    // A refused file loads like a missing one (no tasks), and says why.
    platform::IniLoad tasks = platform::readIniFile(s.filePath);
    if (tasks.document) {
        s.tasks = chronstore::loadTimTasks(*tasks.document, s.nextId);
        s.nextId = static_cast<std::int32_t>(static_cast<std::uint32_t>(s.nextId) +
                                             static_cast<std::uint32_t>(s.tasks.size()));
    } else {
        s.loadProblems.push_back({s.filePath, std::move(tasks.problem)});
    }
    s.holidayPath = folder + "/Holidays.ini";
    s.holidays.clear();
    platform::IniLoad holidays = platform::readIniFile(s.holidayPath);
    if (holidays.document) {
        s.holidays = chronstore::loadHolidays(*holidays.document);
    } else {
        s.loadProblems.push_back({s.holidayPath, std::move(holidays.problem)});
    }
    publishCount(s);
    return true;
}

std::vector<ChronstoreLoadProblem> GetChronstoreLoadProblems() {
    Store& s = store();
    std::lock_guard lock(s.mutex);
    return s.loadProblems;
}

void ReleaseChronstore() {
    Store& s = store();
    std::lock_guard lock(s.mutex);
    TimTaskArray().swap(s.tasks);
    publishCount(s);
}

std::string GetTTFilePath() {
    Store& s = store();
    std::lock_guard lock(s.mutex);
    return s.filePath;
}

void TimTaskLock() {
    store().mutex.lock();
}
void TimTaskUnLock() {
    store().mutex.unlock();
}

TimTaskArray& GetTTPointArray() {
    return store().tasks;
}

int GetTTPointCount() {
    return store().count.load();
}

TimTaskPoint_& GetTTPointByIndex(int index) {
    Store& s = store();
    std::lock_guard lock(s.mutex);
    checkIndex(s, index, "GetTTPointByIndex");
    return s.tasks[static_cast<std::size_t>(index)];
}

void PlusTTPoint(TimTaskPoint_ task) {
    normalise(task);
    Store& s = store();
    std::lock_guard lock(s.mutex);
    s.tasks.push_back(std::move(task));
    publishCount(s);
}

void ModifyTTPoint(int index, TimTaskPoint_ task) {
    normalise(task);
    Store& s = store();
    std::lock_guard lock(s.mutex);
    checkIndex(s, index, "ModifyTTPoint");
    s.tasks[static_cast<std::size_t>(index)] = std::move(task);
}

void RemoveTTPointByIdx(int index) {
    Store& s = store();
    std::lock_guard lock(s.mutex);
    checkIndex(s, index, "RemoveTTPointByIdx");
    s.tasks.erase(s.tasks.begin() + index);
    publishCount(s);
}

bool SaveTimPointToFile() {
    Store& s = store();
    std::lock_guard lock(s.mutex);
    if (s.filePath.empty()) return false;
    // Read once, apply every key as a profile write would, replace the file atomically.
    platform::IniBatchWriter batch(s.filePath);
    if (!batch.loaded()) return false;
    chronstore::writeTimTasks(batch.document(), s.tasks);
    return batch.commit();
}

HolidayList GetHolidays() {
    Store& s = store();
    std::lock_guard lock(s.mutex);
    return s.holidays;
}

void SetHolidays(HolidayList dates) {
    dates = NormaliseHolidays(std::move(dates));
    Store& s = store();
    std::lock_guard lock(s.mutex);
    s.holidays = std::move(dates);
}

bool IsHoliday(int year, int month, int day) {
    Store& s = store();
    std::lock_guard lock(s.mutex);
    return ListHasHoliday(s.holidays, year, month, day);
}

bool SaveHolidaysToFile() {
    Store& s = store();
    std::lock_guard lock(s.mutex);
    if (s.holidayPath.empty()) return false;
    platform::IniBatchWriter batch(s.holidayPath);
    if (!batch.loaded()) return false;
    chronstore::writeHolidays(batch.document(), s.holidays);
    return batch.commit();
}
