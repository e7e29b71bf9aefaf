// The failure kinds of a serial read or write that the link tells apart.
#pragma once

#include <cerrno>
#include <string>

namespace comwire {

enum class IoFault {
    Pending,        // nothing could move yet (EAGAIN); the operation completes later
    AccessDenied,   // the device refuses us (EACCES, EPERM)
    InvalidHandle,  // the descriptor is not usable (EBADF)
    BadCommand,     // the device failed or went away (EIO, ENXIO, ENODEV)
    Other,
};

inline IoFault classifyErrno(int error) {
    switch (error) {
        case EAGAIN:
            return IoFault::Pending;
        case EACCES:
        case EPERM:
            return IoFault::AccessDenied;
        case EBADF:
            return IoFault::InvalidHandle;
        case EIO:
        case ENXIO:
        case ENODEV:
            return IoFault::BadCommand;
        default:
            return IoFault::Other;
    }
}

// The code shown in the error message boxes of each kind.
inline int faultCode(IoFault fault) {
    switch (fault) {
        case IoFault::Pending:
            return 997;
        case IoFault::AccessDenied:
            return 5;
        case IoFault::InvalidHandle:
            return 6;
        case IoFault::BadCommand:
            return 22;
        case IoFault::Other:
            break;
    }
    return 0;
}

inline const char* faultName(IoFault fault) {
    switch (fault) {
        case IoFault::Pending:
            return "ERROR_IO_PENDING";
        case IoFault::AccessDenied:
            return "ERROR_ACCESS_DENIED";
        case IoFault::InvalidHandle:
            return "ERROR_INVALID_HANDLE";
        case IoFault::BadCommand:
            return "ERROR_BAD_COMMAND";
        case IoFault::Other:
            break;
    }
    return "default";
}

// Kinds after which the descriptor is no longer used: later writes are dropped.
inline bool endsHandle(IoFault fault) {
    return fault == IoFault::AccessDenied || fault == IoFault::InvalidHandle ||
           fault == IoFault::BadCommand;
}

// Kinds the operator is told about with a message box.
inline bool showsBox(IoFault fault) {
    return fault == IoFault::AccessDenied || fault == IoFault::BadCommand;
}

// The box text of a fault of `operation` ("WriteFile", "ReadFile") on COM`port`.
inline std::string faultMessage(IoFault fault, unsigned port, const char* operation) {
    return "COM" + std::to_string(port) + " " + faultName(fault) + "，" + operation +
           "() Error Code:" + std::to_string(faultCode(fault));
}

}  // namespace comwire
