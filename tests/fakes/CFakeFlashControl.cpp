#include "tests/fakes/CFakeFlashControl.h"

namespace vexa::testing {

void CFakeFlashControl::SetReturnValue(const std::string& value) {
    returnValues.push_back(value);
}

std::string CFakeFlashControl::CallFunction(const std::string& request) {
    calls.push_back(request);
    return reply;
}

}  // namespace vexa::testing
