// How a client names the resource in a request line sent through an HTTP proxy.
#pragma once

#include <string>

namespace zemlik::testing {

// The absolute URI for http://host + target (a path and query) as the request line
// through a proxy carries it: "http://host/target", as curl and Windows' WinINet
// write it. Under wine it is "http://host:80/target": wine's WinINet always names
// the port there. Tests expect this so the same case passes on both builds.
std::string ProxyTarget(const std::string& host, const std::string& target);

}  // namespace zemlik::testing
