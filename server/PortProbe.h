// The choice of a free local TCP port: a port counts as taken when any row of the system's TCP
// table, in whatever state, has it as its local port.
#pragma once

namespace vexa {

// 1 when some row of the TCP table has this local port; 0 when none has or the table cannot be
// read.
int IsPortInUse(int port);

// The first port from port upward (at most 65535) that IsPortInUse reports free; -1 when there
// is none. Port 0 asks the system for any free port when listening, so it is returned as is.
int FindFreePort(int port);

}  // namespace vexa
