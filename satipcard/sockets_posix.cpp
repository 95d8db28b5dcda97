// The system's sockets, natively: always there. See sockets.h.
#include "satipcard/sockets.h"

namespace satipcard {

bool StartSockets(std::string* /*error*/) { return true; }

}  // namespace satipcard
