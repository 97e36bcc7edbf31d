// What the shared parts of the test servers (HTTP fixture, fault server) need from
// each side. Internal to tests/support.
#pragma once

#include <string>

namespace zemlik::testing {

// Renames `from` to `to` in one step, replacing `to`, so that a reader of `to`
// never sees half a file.
void RenameOver(const std::string& from, const std::string& to);

}  // namespace zemlik::testing
