// What the command bridge needs of the movie's player control: answering the movie's current call
// and calling a function inside the movie.
#pragma once

#include <string>

namespace vexa {

class IFlashControl {
  public:
    virtual ~IFlashControl() = default;
    // Hands the answer to the movie's call that is being handled; only valid during that call.
    virtual void SetReturnValue(const std::string& value) = 0;
    // Passes an invoke request to the movie and returns its reply ("" when there is none).
    virtual std::string CallFunction(const std::string& request) = 0;
};

}  // namespace vexa
