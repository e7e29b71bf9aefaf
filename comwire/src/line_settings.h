// Serial line settings (baud rate, parity letter, data bits, stop-bit code) onto termios.
#pragma once

#include <termios.h>

#include <optional>

namespace comwire {

// The termios speed for a baud rate; none for a rate the driver interface cannot express.
std::optional<speed_t> speedOf(unsigned baudRate);

// Parity letter, case-insensitive: 'E' even, 'O' odd, 'M' mark, 'S' space; anything else none.
// Returns the c_cflag bits (PARENB, PARODD, CMSPAR) for it.
tcflag_t parityFlags(char16_t parity);

// Stop-bit code 0 one, 1 one and a half, 2 two; other codes count as 0. Linux has no one and
// a half: like most drivers it sends two then. Returns the c_cflag bits.
tcflag_t stopBitFlags(unsigned stopBitCode);

// Raw 8-bit-clean line with the given framing. False when a value has no termios form or the
// driver refuses it; the line then keeps what it had.
bool applyLineSettings(int fd, unsigned baudRate, char16_t parity, unsigned dataBits,
                       unsigned stopBitCode);

}  // namespace comwire
