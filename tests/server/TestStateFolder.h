// Every test process logs into a state folder of its own, so parallel test runs keep separate
// run logs and nothing is written under the user's home.
#pragma once

#include <string>

namespace vexa::testing {

// The folder XDG_STATE_HOME points to for this process; removed at exit.
const std::string& TestStateHome();
// The run log's content ("" when there is none).
std::string ReadRunLog();

}  // namespace vexa::testing
