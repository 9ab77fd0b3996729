// Every parser of what the adb server and Android devices print, by concern. Pure functions
// with no I/O: each takes text as a device wrote it (CRLF from a terminal, junk lines, a missing
// last newline) and returns what it could read, or nothing.
#pragma once

#include "device_link/adb/identity_parsers.h"
#include "device_link/adb/memory_storage_parsers.h"
#include "device_link/adb/parse_text.h"
#include "device_link/adb/power_parsers.h"
#include "device_link/adb/screen_network_parsers.h"
