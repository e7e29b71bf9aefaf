// Everything the rest of the system uses from libcomwire.
#pragma once

#include "comwire/serial_port.h"
#include "comwire/serial_port_comd.h"
