#include "PeerUser.h"

#include <array>
#include <vector>

#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>

namespace tkrecord {

Peer peerOf(qintptr descriptor) {
    ucred credentials{};
    socklen_t size = sizeof(credentials);
    if (::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return {};
    Peer peer{QStringLiteral("uid %1").arg(credentials.uid), credentials.uid, credentials.gid};
    passwd entry{};
    passwd* found = nullptr;
    std::array<char, 4096> buffer{};
    if (::getpwuid_r(credentials.uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        peer.user = QString::fromLocal8Bit(found->pw_name);
    return peer;
}

bool inGroup(const Peer& peer, const QString& groupName) {
    if (groupName.isEmpty() || peer.user.isEmpty())
        return false;
    struct group entry {};
    struct group* found = nullptr;
    std::array<char, 16384> buffer{};
    const QByteArray name = groupName.toLocal8Bit();
    if (::getgrnam_r(name.constData(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    if (found->gr_gid == peer.gid)
        return true;
    const QByteArray user = peer.user.toLocal8Bit();
    std::vector<gid_t> groups(64);
    int count = int(groups.size());
    if (::getgrouplist(user.constData(), peer.gid, groups.data(), &count) < 0) {
        groups.resize(std::size_t(count));
        if (::getgrouplist(user.constData(), peer.gid, groups.data(), &count) < 0)
            return false;
    }
    for (int i = 0; i < count; ++i)
        if (groups[std::size_t(i)] == found->gr_gid)
            return true;
    return false;
}

} // namespace tkrecord
