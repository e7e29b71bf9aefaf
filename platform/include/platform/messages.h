// Window-message numbers exchanged between the libraries and the console window.
#pragma once

#include <cstdint>

namespace platform {

constexpr std::uint32_t WM_USER = 0x0400;

// Posted by the device configuration to its dialog when a serial reply is complete; wParam
// the reply length. The dialog answers with DeviceConfig::handleSerialReply().
constexpr std::uint32_t WM_SERIAL_REPLY = WM_USER + 201;  // 1225

// Posted by the command channel to the main window.
constexpr std::uint32_t WM_DEVICE_EVENT = WM_USER + 202;        // 1226, wParam device id
constexpr std::uint32_t WM_SERIAL_STEP_DONE = WM_USER + 203;    // 1227, wParam device id
constexpr std::uint32_t WM_PARALLEL_STEP_DONE = WM_USER + 204;  // 1228, wParam device id
// lParam of WM_DEVICE_EVENT.
constexpr std::intptr_t DEV_EVENT_REGISTERED = 1;
constexpr std::intptr_t DEV_EVENT_STATUS = 2;
constexpr std::intptr_t DEV_EVENT_REMOVED = 3;

// Posted by the TCP server when a connection is lost, never while the link holds a lock;
// lParam is the peer's IPv4 address by value (s_addr, network byte order), wParam 0.
constexpr std::uint32_t WM_LINK_SOCKET_CLOSED = WM_USER + 133;
// Posted by the link when a registration is refused because its id is online at another
// address: wParam the device id, lParam packs both IPv4 addresses by value (see
// packAddressPair), so nothing the message refers to can go stale.
constexpr std::uint32_t WM_DEVICE_ID_CONFLICT = WM_USER + 134;

// Two IPv4 addresses (s_addr values, network byte order) in one lParam: the newcomer's in the
// high 32 bits, the online one's in the low 32 bits.
constexpr std::intptr_t packAddressPair(std::uint32_t newcomer, std::uint32_t online) {
    return static_cast<std::intptr_t>((static_cast<std::uint64_t>(newcomer) << 32) | online);
}
constexpr std::uint32_t newcomerAddress(std::intptr_t pair) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(pair) >> 32);
}
constexpr std::uint32_t onlineAddress(std::intptr_t pair) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(pair));
}

// Sent by the cell list control to the dialog that owns it.
constexpr std::uint32_t WM_LED_CELL_CLICKED = WM_USER + 1900;     // 2924
constexpr std::uint32_t WM_BUTTON_CELL_CLICKED = WM_USER + 1902;  // 2926
constexpr std::uint32_t WM_COMBO_CELL_CHANGED = WM_USER + 1903;   // 2927

}  // namespace platform
