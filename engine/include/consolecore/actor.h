// Who asked for a command: named in its audit lines, and deciding whether anybody may be asked.
#pragma once

#include <string>

namespace consolecore {

struct Actor {
    // As the audit lines name it: the window's login user, "mqtt", a web user.
    std::string name;
    // The operator at the window: may be asked to confirm and shown a box. Any other actor
    // never is, since nobody is there to answer.
    bool atConsole = false;
};

}  // namespace consolecore
