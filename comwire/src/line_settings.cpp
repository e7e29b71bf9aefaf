// termios configuration of an open serial device.
#include "line_settings.h"

#include <sys/ioctl.h>

namespace comwire {

std::optional<speed_t> speedOf(unsigned baudRate) {
    switch (baudRate) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 921600:
            return B921600;
        default:
            return std::nullopt;
    }
}

tcflag_t parityFlags(char16_t parity) {
    switch (parity) {
        case u'E':
        case u'e':
            return PARENB;
        case u'O':
        case u'o':
            return PARENB | PARODD;
        case u'M':
        case u'm':
            return PARENB | PARODD | CMSPAR;
        case u'S':
        case u's':
            return PARENB | CMSPAR;
        default:
            return 0;
    }
}

tcflag_t stopBitFlags(unsigned stopBitCode) {
    return stopBitCode == 1 || stopBitCode == 2 ? CSTOPB : 0;
}

bool applyLineSettings(int fd, unsigned baudRate, char16_t parity, unsigned dataBits,
                       unsigned stopBitCode) {
    const auto speed = speedOf(baudRate);
    if (!speed) return false;
    tcflag_t size = 0;
    switch (dataBits) {
        case 5:
            size = CS5;
            break;
        case 6:
            size = CS6;
            break;
        case 7:
            size = CS7;
            break;
        case 8:
            size = CS8;
            break;
        default:
            return false;
    }
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= size | parityFlags(parity) | stopBitFlags(stopBitCode) | CLOCAL | CREAD;
    // Reads are driven by readiness, never by the driver's own timers.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, *speed) != 0 || cfsetospeed(&tio, *speed) != 0) return false;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) return false;
    // RTS held on. Pseudo-terminals have no modem lines, so a refusal is expected there.
    int rts = TIOCM_RTS;
    ioctl(fd, TIOCMBIS, &rts);
    return true;
}

}  // namespace comwire
