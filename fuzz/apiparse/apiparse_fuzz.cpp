// apiparse_fuzz: the HTTP API's route and body parsers on any method, target and body.
// Input: the method up to the first newline, the target up to the second, then the body.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "webapi/api_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto first = input.find('\n');
    const std::string_view method = input.substr(0, first);
    input = first == std::string_view::npos ? std::string_view() : input.substr(first + 1);
    const auto second = input.find('\n');
    const std::string_view target = input.substr(0, second);
    const std::string_view body =
        second == std::string_view::npos ? std::string_view() : input.substr(second + 1);

    const auto route = webapi::parseRoute(method, target);
    if (const auto* r = std::get_if<webapi::Route>(&route)) {
        // What a route hands on is always in range.
        if (r->endpoint == webapi::Endpoint::Outlet && (r->outlet < 1 || r->outlet > 16))
            __builtin_trap();
        if (r->endpoint == webapi::Endpoint::GroupRuns && (r->group < 1 || r->group > 6))
            __builtin_trap();
    }
    if (const auto query = webapi::parseLogQuery(target)) {
        if (query->limit < 1 || query->limit > 1000) __builtin_trap();
    }
    (void)webapi::parseLoginBody(body);
    (void)webapi::parseHolidaysBody(body);
    (void)webapi::parseOutletBody(body);
    (void)webapi::parseRunBody(body);
    if (const auto apply = webapi::parseApplyBody(body); apply && apply->devices) {
        // A selection hands on at least one id, never 0.
        if (apply->devices->empty() || apply->devices->size() > webapi::kTaskBodyDevices)
            __builtin_trap();
        for (const auto id : *apply->devices) {
            if (id == 0) __builtin_trap();
        }
    }
    if (const auto task = webapi::parseTaskBody(body)) {
        // A task body hands on valid clock times and device ids only.
        if (task->start >= 86400 || task->end >= 86400 ||
            task->devices.size() > webapi::kTaskBodyDevices || task->from.month < 1 ||
            task->from.month > 12 || task->to.day < 1 || task->to.day > 31)
            __builtin_trap();
        for (const auto& device : task->devices) {
            if (device.id == 0) __builtin_trap();
        }
    }
    return 0;
}
