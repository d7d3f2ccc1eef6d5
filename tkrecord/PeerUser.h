#pragma once

// Who is at the other end of a Unix-domain socket, as the kernel knows it,
// and whether that user belongs to a group.

#include <QString>

namespace tkrecord {

struct Peer {
    QString user; // "uid 1234" when the system has no name for it
    unsigned uid = 0;
    unsigned gid = 0;
};

// The peer of a connected socket; an empty user when the kernel would not say.
Peer peerOf(qintptr descriptor);
// Whether peer is a member of group, as its primary group or another one.
// False for a group the system does not know.
bool inGroup(const Peer& peer, const QString& group);

} // namespace tkrecord
