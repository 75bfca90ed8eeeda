#include "net/CSendData.h"

namespace vexa {

CSendData::CSendData() : m_strBoundary("---------------------------114782935826962") {}

}  // namespace vexa
