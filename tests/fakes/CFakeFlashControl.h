// A stand-in for the movie's player control: records the answers and calls the host gives it.
#pragma once

#include <string>
#include <vector>

#include "app/IFlashControl.h"

namespace vexa::testing {

class CFakeFlashControl : public vexa::IFlashControl {
  public:
    void SetReturnValue(const std::string& value) override;
    std::string CallFunction(const std::string& request) override;

    std::vector<std::string> returnValues;
    std::vector<std::string> calls;
    std::string reply;  // what the movie answers to every call
};

}  // namespace vexa::testing
