// One "# TYPE" line per family, then its samples.
#include "metrics_text.h"

namespace webapi {

namespace {

void family(std::string& out, const char* name, const char* type) {
    out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void sample(std::string& out, const char* name, std::uint64_t value,
            const std::string& labels = {}) {
    out.append(name);
    if (!labels.empty()) out.append("{").append(labels).append("}");
    out.append(" ").append(std::to_string(value)).append("\n");
}

void single(std::string& out, const char* name, const char* type, std::uint64_t value) {
    family(out, name, type);
    sample(out, name, value);
}

}  // namespace

std::string metricsText(const MetricsFigures& f) {
    std::string out;
    single(out, "vantrel_devices_registered", "gauge",
           static_cast<std::uint64_t>(f.devicesRegistered));
    single(out, "vantrel_devices_online", "gauge", static_cast<std::uint64_t>(f.devicesOnline));
    single(out, "vantrel_link_connections", "gauge", f.link.connections);
    single(out, "vantrel_link_supervised_devices", "gauge", f.link.tickEntries);
    single(out, "vantrel_link_frames_received_total", "counter", f.link.framesQueued);
    family(out, "vantrel_link_frames_dropped_total", "counter");
    sample(out, "vantrel_link_frames_dropped_total", f.link.framesDropped, "reason=\"queue_full\"");
    sample(out, "vantrel_link_frames_dropped_total", f.link.framesForged, "reason=\"identity\"");
    single(out, "vantrel_link_bad_frame_bytes_total", "counter", f.link.bytesDiscarded);
    single(out, "vantrel_link_frames_sent_total", "counter", f.link.framesSent);
    single(out, "vantrel_link_sends_dropped_total", "counter", f.link.sendsDropped);
    single(out, "vantrel_link_heartbeat_ticks_total", "counter", f.link.ticks);
    single(out, "vantrel_link_connections_refused_total", "counter", f.link.connectionsRefused);
    single(out, "vantrel_link_connections_timed_out_total", "counter", f.link.connectionsTimedOut);
    family(out, "vantrel_runs_total", "counter");
    for (const char* outcome : {"done", "timeout", "cancelled", "device-lost"}) {
        const auto it = f.runsByOutcome.find(outcome);
        sample(out, "vantrel_runs_total", it == f.runsByOutcome.end() ? 0 : it->second,
               std::string("outcome=\"") + outcome + "\"");
    }
    single(out, "vantrel_log_troubles_total", "counter", f.logTroubles);
    family(out, "vantrel_http_responses_total", "counter");
    for (const auto& [status, count] : f.httpByStatus) {
        sample(out, "vantrel_http_responses_total", count,
               "status=\"" + std::to_string(status) + "\"");
    }
    return out;
}

}  // namespace webapi
