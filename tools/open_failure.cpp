#include "tools/open_failure.h"

#include "device/device_list.h"
#include "device/failure_advice.h"

std::string openFailureCause(const FT_DEVICE_LIST_INFO_NODE& entry, FT_STATUS status) {
    // The probe opens nothing before it reads the list.
    const Advice advice =
        adviceFor(openFailureTrouble(entry, status), serialNumberOf(entry), PROBE_AGAIN);
    return (advice.cause.empty() ? "not known" : advice.cause) +
           (advice.commands ? "; fix: " : "; ") + advice.fix;
}
