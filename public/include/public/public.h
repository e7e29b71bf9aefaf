// Everything the rest of the system uses from libpublic.
#pragma once

#include "public/nwstring.h"
#include "public/work_path.h"
