#include "app/UploadParams.h"

namespace vexa {

UploadParams g_uploadParams;

}  // namespace vexa
