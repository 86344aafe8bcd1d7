// The socket transport's yarl.h functions (socket_yarl.cpp), and a seam for
// programs that measure them: an observer that sees the length of every
// message yarl_send is handed.
#pragma once

#include <cstdint>

namespace ostrel::socket_transport {

// Called by yarl_send with the message's length before it is sent; null
// (the default) for none.
using SendObserver = void (*)(uint32_t length);
void observe_sends(SendObserver observer);

} // namespace ostrel::socket_transport
