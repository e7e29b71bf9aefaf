// The serial and parallel switching groups and the records of running switching operations.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace consolecore {

constexpr int MAX_GROUP_NUMBER = 6;

// One device in a group's list, as it last reported itself.
struct stLocDevInfo_ {
    std::uint32_t deviceId = 0;
    std::uint8_t handled = 0;  // 1 once its step of the running operation is done or passed
    std::uint8_t number = 0;   // place in the switching order
    std::uint8_t onOff = 0;    // on/off state (low byte) when the entry was filed
};

// A switching group, serial or parallel.
struct st_Group_Info_ {
    std::uint8_t groupNumber = 0;  // 1..6
    std::string name;              // "Link1".."Link6"
    std::vector<stLocDevInfo_> devices;
    std::uint8_t direction = 0;  // serial: 1 when the last run started switched on; parallel: 0
};
// A parallel group has the same record.
using st_plGroup_Info_ = st_Group_Info_;

// A running serial operation.
struct st_Serial_Record_ {
    std::uint8_t groupNumber = 0;
    std::uint32_t lastDeviceId = 0;
    std::uint8_t progress = 0;
    std::vector<std::uint32_t> deviceIds;  // switching order at run start
};

// A running parallel operation.
struct st_Parall_Record_ {
    std::uint8_t groupNumber = 0;
    std::vector<std::uint32_t> deviceIds;
};

enum class GroupKind { Serial, Parallel };

// The name a group goes by wherever the window names it: "Link1".."Link6", as in the group
// records and the group selection dialogs.
std::string groupName(int group);

// Whether a device reporting `onOff` is already in the `target` state (1 on, 0 off): any
// non-zero state counts as on. The one test used by the run start, the next-device choice
// and the selection dialogs.
inline bool isInState(std::uint8_t onOff, std::uint8_t target) {
    return target != 0 ? onOff != 0 : onOff == 0;
}

// The four process-wide tables and the one lock that serialises every complete operation on
// them between the receive-dispatch thread and the GUI thread. Callers take lock() for the
// whole operation; the maintenance helpers below expect it to be held.
class SwitchingGroups {
public:
    SwitchingGroups();

    std::unique_lock<std::recursive_mutex> lock() {
        return std::unique_lock<std::recursive_mutex>(m_mutex);
    }

    // Empties every list and record and gives the groups their numbers and names again.
    void reset();

    // Files a newly registered device (mode 0 parallel, 1 serial; other modes or groups
    // outside 1..6 file nothing).
    void fileRegistered(std::uint32_t id, std::uint8_t group, std::uint8_t mode,
                        std::uint8_t number, std::uint8_t onOff);
    // Re-files a device after a status report; updates the serial run's progress from the
    // highest outlet on (0 when none).
    void refileOnStatus(std::uint32_t id, std::uint8_t group, std::uint8_t mode,
                        std::uint8_t number, std::uint8_t onOff, int highestOn);
    // Removes every entry of the device from all twelve lists.
    void removeDevice(std::uint32_t id);

    // The group number (1..6) of the first group of that kind holding the device.
    std::optional<int> findGroupOf(GroupKind kind, std::uint32_t id) const;
    // Group 1..6 of that kind (out of range throws std::out_of_range).
    const st_Group_Info_& group(GroupKind kind, int group) const;
    std::vector<stLocDevInfo_>& devices(GroupKind kind, int group);
    std::uint8_t direction(GroupKind kind, int group) const;
    void setDirection(GroupKind kind, int group, std::uint8_t direction);

    st_Serial_Record_* findSerialRecord(int group);
    st_Parall_Record_* findParallRecord(int group);
    void addSerialRecord(st_Serial_Record_ record);
    void addParallRecord(st_Parall_Record_ record);
    void eraseSerialRecord(int group);
    void eraseParallRecord(int group);

private:
    st_Group_Info_& groupEntry(GroupKind kind, int group);

    std::array<st_Group_Info_, MAX_GROUP_NUMBER> m_serialGroupArray;
    std::array<st_plGroup_Info_, MAX_GROUP_NUMBER> m_plGroupArray;
    std::vector<st_Serial_Record_> m_serialRecordArray;
    std::vector<st_Parall_Record_> m_parallRecordArray;
    mutable std::recursive_mutex m_mutex;
};

// The tables shared by the command channel, the switching handlers and the dialogs.
SwitchingGroups& switchingGroups();

}  // namespace consolecore
