// The exported functions of libchronrun.so.
#include "chronrun/chronrun.h"
#include "chronrun/chronrun_options.h"
#include "runner.h"

using chronrun::Runner;

bool InitChronrun(std::u16string_view /*unused*/) {
    return Runner::instance().init();
}

void ReleaseChronrun() {
    Runner::instance().release();
}

bool ApplyChronrunTask(std::int32_t timID, std::uint16_t devID) {
    return Runner::instance().apply(timID, devID, false);
}

bool ReapplyChronrunTask(std::uint16_t devID) {
    return Runner::instance().apply(0, devID, true);
}

void SetChronrunReapplyStagger(std::chrono::milliseconds stagger) {
    Runner::instance().setReapplyStagger(stagger);
}

void SetChronrunOptions(const ChronrunOptions& options) {
    Runner::instance().setOptions(options);
}

ChronrunOptions GetChronrunOptions() {
    return Runner::instance().options();
}
