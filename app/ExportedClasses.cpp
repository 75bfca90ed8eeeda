// The classes the executable exports for other modules. Nothing in the program calls them, so
// this reference is what keeps them linked in.
#include <typeinfo>

#include "net/CHttpSocket.h"

extern const std::type_info& g_vexaExportedHttpSocket;
const std::type_info& g_vexaExportedHttpSocket = typeid(vexa::CHttpSocket);
