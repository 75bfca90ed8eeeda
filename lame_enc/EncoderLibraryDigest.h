// The SHA-256 of the liblame_enc.so that this build made, as 64 lower-case hex digits. The
// program loads a copy of the library that came over the network only when it has this digest;
// the build writes it again whenever the library is relinked, and the program relinks with it.
#pragma once

namespace vexa {

extern const char kEncoderLibrarySha256[];

}  // namespace vexa
