#include <frameyard/server_rt.h>

#include "variant/rt_forwarder.h"

// The exported operations: each one forwards to the server core.
namespace store {

#include "server/public_operations.inc"

}  // namespace store
