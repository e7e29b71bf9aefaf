// Device frames decoded per second: header, status and registration decoders alone, and a
// TCP-like byte stream of status frames cut by the stream framer and decoded.
#include <benchmark/benchmark.h>

#include <vector>

#include "protocol/device_frames.h"
#include "protocol/stream_framer.h"

namespace {

protocol::StatusPayload sampleStatus() {
    protocol::StatusPayload s;
    s.header.deviceId = 1234;
    s.group = 2;
    s.mode = 1;
    s.number = 7;
    s.onOff = true;
    s.outlets = protocol::expandChannelWord(0x8001);
    return s;
}

void BM_DecodeStatus(benchmark::State& state) {
    const auto frame = protocol::buildStatusFrame(protocol::NET_CMD_STATUS, sampleStatus());
    for (auto _ : state) benchmark::DoNotOptimize(protocol::decodeStatus(frame));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeStatus);

void BM_DecodeRegister(benchmark::State& state) {
    protocol::RegisterPayload r;
    r.header.deviceId = 99;
    r.name = "RACK-99";
    r.mask = 0xFFFFFF00;
    const auto frame = protocol::buildRegisterFrame(r);
    for (auto _ : state) benchmark::DoNotOptimize(protocol::decodeRegister(frame));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeRegister);

// 1000 status frames in one buffer, fed in 1460-byte pieces like TCP segments.
void BM_FramerAndDecodeStream(benchmark::State& state) {
    const auto frame = protocol::buildStatusFrame(protocol::NET_CMD_STATUS, sampleStatus());
    std::vector<std::uint8_t> stream;
    for (int i = 0; i < 1000; ++i) stream.insert(stream.end(), frame.begin(), frame.end());
    for (auto _ : state) {
        protocol::StreamFramer framer;
        std::size_t decoded = 0;
        for (std::size_t at = 0; at < stream.size(); at += 1460) {
            const std::size_t n = std::min<std::size_t>(1460, stream.size() - at);
            framer.append(std::span<const std::uint8_t>(stream.data() + at, n));
            while (auto f = framer.next()) decoded += protocol::decodeStatus(*f).has_value();
        }
        benchmark::DoNotOptimize(decoded);
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_FramerAndDecodeStream);

}  // namespace
