// The XML access of the host: documents, nodes and node lists in the namespace Tavix.
#pragma once

#include "xml/CXmlDocument.h"
#include "xml/CXmlNode.h"
#include "xml/CXmlNodes.h"
