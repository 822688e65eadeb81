#pragma once
// The abusive clients of the load tool, one class per kind. Each misbehaves on every
// connection it opens and, when the server ends that connection (as it should for most
// kinds) or the abuse is complete, opens another, until the run ends.
#include <memory>
#include <string>
#include <vector>

#include "tools/frameyard-stress/peer.h"

namespace stress {

enum class AbuseKind { half, staller, bytewise, garbage, oversized, reset, churn, silent };

constexpr AbuseKind allAbuseKinds[] = {AbuseKind::half,      AbuseKind::staller, AbuseKind::bytewise,
                                       AbuseKind::garbage,   AbuseKind::oversized, AbuseKind::reset,
                                       AbuseKind::churn,     AbuseKind::silent};

const char* kindName(AbuseKind kind);
// False when the name is no kind.
bool kindFromName(const std::string& name, AbuseKind& kind);

// What the kind counts as its own success, for the summary.
const char* successLabel(AbuseKind kind);

// `serial` varies the abuse between clients of one kind (which protocol is left half-sent,
// which length is oversized).
std::unique_ptr<Peer> makeAbuser(AbuseKind kind, const sockaddr_in& server, KindStats& stats, unsigned serial);

}  // namespace stress
