#include "tools/d2xx_status_text.h"

namespace {

struct StatusName {
    FT_STATUS status;
    const char* name;
};

constexpr StatusName NAMES[] = {
    {FT_OK, "FT_OK"},
    {FT_INVALID_HANDLE, "FT_INVALID_HANDLE"},
    {FT_DEVICE_NOT_FOUND, "FT_DEVICE_NOT_FOUND"},
    {FT_DEVICE_NOT_OPENED, "FT_DEVICE_NOT_OPENED"},
    {FT_IO_ERROR, "FT_IO_ERROR"},
    {FT_INSUFFICIENT_RESOURCES, "FT_INSUFFICIENT_RESOURCES"},
    {FT_INVALID_PARAMETER, "FT_INVALID_PARAMETER"},
    {FT_INVALID_BAUD_RATE, "FT_INVALID_BAUD_RATE"},
    {FT_DEVICE_NOT_OPENED_FOR_ERASE, "FT_DEVICE_NOT_OPENED_FOR_ERASE"},
    {FT_DEVICE_NOT_OPENED_FOR_WRITE, "FT_DEVICE_NOT_OPENED_FOR_WRITE"},
    {FT_FAILED_TO_WRITE_DEVICE, "FT_FAILED_TO_WRITE_DEVICE"},
    {FT_INVALID_ARGS, "FT_INVALID_ARGS"},
    {FT_NOT_SUPPORTED, "FT_NOT_SUPPORTED"},
    {FT_OTHER_ERROR, "FT_OTHER_ERROR"},
    {FT_DEVICE_LIST_NOT_READY, "FT_DEVICE_LIST_NOT_READY"},
};

}  // namespace

std::string d2xxStatusText(FT_STATUS status) {
    std::string text = std::to_string(status);
    for (const StatusName& known : NAMES) {
        if (known.status == status) {
            return text + " (" + known.name + ")";
        }
    }
    return text;
}
