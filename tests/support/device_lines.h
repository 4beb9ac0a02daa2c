// Lines of the device configuration file as the tool writes them, for tests that set up a file
// or check one: both forms end in a blank before the line feed.
#pragma once

#include <string>

namespace lumora::testing {

inline std::string ip_device_line(const std::string& name, const std::string& model = "\"M\"",
                                  const std::string& id = "Unknown",
                                  const std::string& ip = "10.0.0.1") {
  return "DEVICE=" + name + " , " + model + " , " + id + " , IP-ADDRESS=" + ip + " \n";
}

inline std::string nodename_device_line(const std::string& name, const std::string& model,
                                        const std::string& id, const std::string& nodename) {
  return "DEVICE=" + name + " , " + model + " , " + id + " , NODENAME=" + nodename + " \n";
}

}  // namespace lumora::testing
