#pragma once

// The keys whose seals are believed: those an administrator listed in the
// trusted-keys file, one a line as the public key in hex and a label,
//
//   # tkrecord on the oven line
//   3b6a27bcceb6a42d62a3a8d02a6f0d73653215771de243a63ac048a18eebc5c9 oven1 recorder
//
// and those given for one run (tkview --trust). A file that others than its
// owner may write, or whose owner is neither root nor the reader, is not
// used: a trust list anyone can extend trusts anyone.

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace sealing {

class TrustedKeys {
public:
    // TKCONTROL_TRUSTED_KEYS when set, else /etc/tkcontrol/trusted-keys.
    static QString systemPath();
    // The keys in the file at path; none when it is absent. problem says why
    // a file that is there is not used, or which lines were not keys.
    static TrustedKeys fromFile(const QString& path, QString* problem);
    // Those of systemPath(), read once per program.
    static const TrustedKeys& system();

    // A key for this run: a public key in hex, a key file (a line as above,
    // or a seal.key), or a key's 16-digit fingerprint. False when it is none.
    bool add(const QString& keyOrFile, const QString& label, QString* problem);

    // The label a public key is trusted under, if it is.
    std::optional<QString> labelOf(const QByteArray& publicKey) const;
    bool isEmpty() const { return m_keys.empty() && m_fingerprints.empty(); }

    // The line that trusts publicKey under label.
    static QString lineFor(const QByteArray& publicKey, const QString& label);

private:
    std::vector<std::pair<QByteArray, QString>> m_keys;      // public key, label
    std::vector<std::pair<QString, QString>> m_fingerprints; // fingerprint, label
};

} // namespace sealing
