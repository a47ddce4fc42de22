#include "server/json_texts.h"

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/string.hpp>

namespace json = boost::json;

namespace {}  // namespace

std::string devicesJson(const std::vector<PooledDevice>& devices) {
    json::array list;
    for (const PooledDevice& device : devices) {
        list.push_back(json::object{
            {"serialNumber", device.serialNumber},
            {"description", device.description},
            {"usable", device.usable},
            {"productId", device.productId},
            {"version", device.version},
            {"reason", device.reason},
            {"state", deviceStateName(device.state)},
        });
    }
    return json::serialize(list);
}

std::string concealedEvent(uint64_t frame, const std::vector<std::string>& lines) {
    json::array texts;
    for (const std::string& line : lines) texts.push_back(json::string(line));
    return json::serialize(
        json::object{{"event", "concealed"}, {"frame", frame}, {"lines", texts}});
}

std::string deviceEvent(const char* event, const std::string& serialNumber, uint64_t frame) {
    return json::serialize(
        json::object{{"event", event}, {"serial", serialNumber}, {"frame", frame}});
}
