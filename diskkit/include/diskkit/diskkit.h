// Everything the rest of the system uses from libdiskkit.
#pragma once

#include "diskkit/local_mutex.h"
#include "diskkit/module_dir.h"
#include "diskkit/text_convert.h"
