// The TimingTask.ini layout: section "TimingTask" with "ttCount", then one section
// "Timing_<n>" per task with its keys in a fixed order.
#include "task_file_io.h"

#include <algorithm>
#include <string>

#include "chronstore/task_file.h"
#include "platform/utf_codec.h"

namespace chronstore {

namespace {

constexpr const char* kMainSection = "TimingTask";
constexpr const char* kCountKey = "ttCount";
constexpr const char* kDefaultName = "tim";
constexpr const char* kSkipHolidaysKey = "skipHolidays";
constexpr const char* kDefaultLeds = "0000000000000000";
// How much of a text value a load looks at, as the fixed read buffer always did.
constexpr std::size_t kMaxValueUnits = 259;

const char* const kWeekdayKeys[7] = {"sunday",   "monday", "tuesday", "wednesday",
                                     "thursday", "friday", "saturday"};

std::string taskSection(std::size_t position) {
    return "Timing_" + std::to_string(position);
}

bool* weekdayField(TimTaskPoint_& task, int weekday) {
    bool* const fields[7] = {&task.sunday,   &task.monday, &task.tuesday, &task.wednesday,
                             &task.thursday, &task.friday, &task.saturday};
    return fields[weekday];
}

// Times are written as unsigned decimal: as a signed one, a value from 2^31 up would be written
// negative, which the reader takes as 0 (a hand-edited "endtime" can be that large).
long long asWritten(std::uint32_t value) {
    return static_cast<long long>(value);
}

}  // namespace

std::vector<TimTaskPoint_> loadTimTasks(const platform::IniDocument& doc, std::int32_t firstId,
                                        TimTaskLoadLimits limits) {
    std::vector<TimTaskPoint_> tasks;
    const int count = std::min(doc.getInt(kMainSection, kCountKey, 0), limits.tasks);
    std::size_t devicesLeft = limits.devices;
    for (int n = 1; n <= count; ++n) {
        const std::string section = taskSection(static_cast<std::size_t>(n));
        TimTaskPoint_ task;
        std::u16string name =
            platform::utf8ToUtf16(doc.getString(section, "timName", kDefaultName));
        SetTimName(task, std::u16string_view(name).substr(0, kMaxValueUnits));

        auto readInt = [&](const char* key) { return doc.getInt(section, key, 0); };
        task.ttEnable = static_cast<std::uint8_t>(readInt("ttEnable"));
        task.ttType = static_cast<std::uint8_t>(readInt("ttType"));
        task.staYear = static_cast<std::uint16_t>(readInt("staYear"));
        task.staMonth = static_cast<std::uint8_t>(readInt("staMonth"));
        task.staDay = static_cast<std::uint8_t>(readInt("staDay"));
        task.endYear = static_cast<std::uint16_t>(readInt("endYear"));
        task.endMonth = static_cast<std::uint8_t>(readInt("endMonth"));
        task.endDay = static_cast<std::uint8_t>(readInt("endDay"));
        for (int day = 0; day < 7; ++day)
            *weekdayField(task, day) = static_cast<std::uint8_t>(readInt(kWeekdayKeys[day])) != 0;
        task.statime = static_cast<std::uint32_t>(readInt("statime"));
        task.endtime = static_cast<std::uint32_t>(readInt("endtime"));
        task.skipHolidays = readInt(kSkipHolidaysKey) != 0;

        // A damaged file may claim huge device counts; the budget bounds the memory a load
        // can take. Well-formed files stay far below it.
        std::size_t devCount = static_cast<std::uint16_t>(readInt("devCount"));
        devCount = std::min(devCount, devicesLeft);
        devicesLeft -= devCount;
        task.devList.reserve(devCount);
        for (std::size_t k = 1; k <= devCount; ++k) {
            DeviceOnOff_ device;
            const std::string index = std::to_string(k);
            // An entry without its id is not a device 0: a count larger than the entries
            // written would otherwise switch one device many times.
            if (!doc.get(section, "devID_" + index)) continue;
            device.devID = static_cast<std::uint16_t>(doc.getInt(section, "devID_" + index, 0));
            const std::u16string leds =
                platform::utf8ToUtf16(doc.getString(section, "devLED_" + index, kDefaultLeds));
            const std::size_t used = std::min({leds.size(), kDeviceOutletCount, kMaxValueUnits});
            for (std::size_t j = 0; j < used; ++j) device.devLED[j] = leds[j] == u'1' ? 1 : 0;
            task.devList.push_back(device);
        }
        task.devCount = static_cast<std::uint16_t>(task.devList.size());
        task.timID = static_cast<std::int32_t>(static_cast<std::uint32_t>(firstId) +
                                               static_cast<std::uint32_t>(n - 1));
        task.runState = kTaskIdle;
        tasks.push_back(std::move(task));
    }
    return tasks;
}

void writeTimTasks(platform::IniDocument& doc, const std::vector<TimTaskPoint_>& tasks) {
    doc.setInt(kMainSection, kCountKey, static_cast<long long>(tasks.size()));
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        const TimTaskPoint_& task = tasks[i];
        const std::string section = taskSection(i + 1);
        doc.set(section, "timName", GetTimNameUtf8(task));
        doc.setInt(section, "ttEnable", task.ttEnable);
        doc.setInt(section, "ttType", task.ttType);
        doc.setInt(section, "staYear", task.staYear);
        doc.setInt(section, "staMonth", task.staMonth);
        doc.setInt(section, "staDay", task.staDay);
        doc.setInt(section, "endYear", task.endYear);
        doc.setInt(section, "endMonth", task.endMonth);
        doc.setInt(section, "endDay", task.endDay);
        const bool days[7] = {task.sunday,   task.monday, task.tuesday, task.wednesday,
                              task.thursday, task.friday, task.saturday};
        for (int day = 0; day < 7; ++day) doc.setInt(section, kWeekdayKeys[day], days[day] ? 1 : 0);
        doc.setInt(section, "statime", asWritten(task.statime));
        doc.setInt(section, "endtime", asWritten(task.endtime));
        // Written only when set (or to clear an earlier 1), so a file without holidays stays
        // exactly as before; readers that do not know the key ignore it.
        if (task.skipHolidays || doc.get(section, kSkipHolidaysKey))
            doc.setInt(section, kSkipHolidaysKey, task.skipHolidays ? 1 : 0);
        doc.setInt(section, "devCount", static_cast<long long>(task.devList.size()));
        std::string leds(kDeviceOutletCount, '0');
        for (std::size_t k = 0; k < task.devList.size(); ++k) {
            const DeviceOnOff_& device = task.devList[k];
            const std::string index = std::to_string(k + 1);
            doc.setInt(section, "devID_" + index, device.devID);
            for (std::size_t j = 0; j < kDeviceOutletCount; ++j)
                leds[j] = device.devLED[j] != 0 ? '1' : '0';
            doc.set(section, "devLED_" + index, leds);
        }
    }
}

}  // namespace chronstore

std::vector<TimTaskPoint_> ParseTimTasks(std::string_view iniText, std::int32_t firstId,
                                         TimTaskLoadLimits limits) {
    return chronstore::loadTimTasks(platform::IniDocument::parse(iniText), firstId, limits);
}

std::string FormatTimTasks(std::string_view existingText, const std::vector<TimTaskPoint_>& tasks) {
    platform::IniDocument doc = platform::IniDocument::parse(existingText);
    chronstore::writeTimTasks(doc, tasks);
    return doc.toText();
}
