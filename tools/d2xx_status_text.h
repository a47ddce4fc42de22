// D2XX status codes as a report shows them.
#pragma once

#include <string>

#include "d2xx/d2xx.h"

// The number and, when D2XX's header names it, the name: "3 (FT_DEVICE_NOT_OPENED)".
std::string d2xxStatusText(FT_STATUS status);
