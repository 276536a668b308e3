#pragma once
// One ICMP echo request and its reply, without root where the system allows it: an unprivileged
// ICMP datagram socket first, a raw socket as the fallback.

#include <QString>

namespace quodra::comm {

enum class EchoResult {
    Reply,        // an echo reply to this request came from exactly the given address
    NoReply,      // no such reply within the limit (or the address is not an IPv4 address)
    NotPermitted, // neither socket kind may be opened by this process
};

struct EchoOutcome {
    EchoResult result = EchoResult::NoReply;
    QString error; // why, for NotPermitted
};

// address: dotted IPv4 text; the reply's source address must equal it exactly.
EchoOutcome icmpEcho(const QString& address, int timeoutMs);

// Internet checksum (RFC 1071) over bytes; exposed for the tests.
quint16 icmpChecksum(const unsigned char* bytes, int size);

} // namespace quodra::comm
