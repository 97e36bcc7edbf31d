#include "tests/support/proxy_target.h"

namespace zemlik::testing {

std::string ProxyTarget(const std::string& host, const std::string& target) {
  return "http://" + host + target;
}

}  // namespace zemlik::testing
