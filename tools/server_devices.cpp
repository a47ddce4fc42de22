#include "tools/server_devices.h"

// Boost.JSON's implementation is compiled once, in the usb3k_json library.
#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

namespace json = boost::json;

namespace {

// The text of `name` in `device`, or empty when the field is missing or not a string.
std::string textOf(const json::object& device, const char* name) {
    const json::value* field = device.if_contains(name);
    return field != nullptr && field->is_string() ? std::string(field->get_string()) : "";
}

}  // namespace

bool parseServerDevices(const std::string& text, std::vector<ServerDevice>& devices,
                        std::string& error) {
    json::error_code ec;
    const json::value list = json::parse(text, ec);
    if (ec) {
        error = "not JSON: " + ec.message();
        return false;
    }
    if (!list.is_array()) {
        error = "not a JSON array";
        return false;
    }
    devices.clear();
    for (const json::value& item : list.get_array()) {
        const json::object* device = item.if_object();
        if (device == nullptr || textOf(*device, "serialNumber").empty()) {
            error = "an entry is not a device with a serial number";
            return false;
        }
        const json::value* usable = device->if_contains("usable");
        devices.push_back(ServerDevice{textOf(*device, "serialNumber"),
                                       textOf(*device, "description"),
                                       usable != nullptr && usable->is_bool() && usable->get_bool(),
                                       textOf(*device, "productId"), textOf(*device, "version"),
                                       textOf(*device, "reason"), textOf(*device, "state")});
    }
    return true;
}
