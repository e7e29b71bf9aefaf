// A manual-reset event on an eventfd: stays signalled until reset, and can be waited on
// together with the port descriptor.
#pragma once

namespace comwire {

class ManualEvent {
public:
    ManualEvent();
    ~ManualEvent();
    ManualEvent(const ManualEvent&) = delete;
    ManualEvent& operator=(const ManualEvent&) = delete;

    void set();
    void reset();
    bool isSet() const;
    // Readable while the event is signalled; -1 when the eventfd could not be made.
    int fd() const { return m_fd; }

private:
    int m_fd;
};

}  // namespace comwire
