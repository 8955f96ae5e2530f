// The wire protocol of late-bound automation over the session D-Bus, shared by
// the client backend and the automation servers.
//
// A server of the class "A.B" owns the bus name kBusPrefix + "A.B"; owning it
// is what "running" means. Its application object lives at kRootPath. Every
// object answers kDispatchInterface.Invoke(member s, kind i, args av, names as)
// with one variant. Values travel with their own D-Bus types: b, n (16-bit),
// i (32-bit), d, s, o (an object of the same server); the empty value travels
// as the byte 0. Failures come back as errors named kFailurePrefix + "N<number>"
// whose message is the server's description.
//
// Lifetime: a client calls kLifetimeInterface.Attach on the root for every
// application reference it takes and Release when that reference is dropped;
// a client that leaves the bus releases everything it held.
#pragma once

#include <QString>

namespace pradelux::protocol {

inline const QString kBusPrefix = QStringLiteral("org.pradelux.Automation.");
inline const QString kRootPath = QStringLiteral("/Application");
inline const QString kDispatchInterface = QStringLiteral("org.pradelux.Automation.Dispatch");
inline const QString kLifetimeInterface = QStringLiteral("org.pradelux.Automation.Lifetime");
inline const QString kFailurePrefix = QStringLiteral("org.pradelux.Automation.Failure.N");

enum InvokeKind { kMethod = 1, kPropertyGet = 2, kPropertyPut = 4 };

inline QString busNameFor(const QString& progId)
{
    return kBusPrefix + progId;
}

} // namespace pradelux::protocol
