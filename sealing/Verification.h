#pragma once

// Checking a sealed file against its seal: pure on the file's bytes and the
// seal's text, so that every verdict can be tested without a disk. Lines are
// numbered as a text editor shows them (a recording's header is line 1).

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

namespace sealing {

struct Verdict {
    enum class Kind {
        Intact,           // every line as sealed, nothing after
        Altered,          // line differs from the sealed one
        Truncated,        // the sealed lines end after line
        Added,            // count lines after the sealed line
        HalfLine,         // the sealed lines, then an unfinished one
        NoSeal,           //
        SignatureInvalid, // the seal is not a seal, or not signed by its key
    };
    Kind kind = Kind::NoSeal;
    qint64 line = 0;
    qint64 count = 0;    // records when intact, lines when added
    QString fingerprint; // the seal's key, when its signature holds

    bool intact() const { return kind == Kind::Intact; }
};

// The verdict for a file's bytes against its seal (none when absent).
Verdict verify(QByteArrayView fileBytes, const std::optional<QByteArray>& sealText);

// The verdict for the file at path, its seal read from path + ".seal".
Verdict verifyFile(const QString& path);
// The same for bytes said to be the file's.
Verdict verifyAgainstSeal(const QString& path, QByteArrayView fileBytes);

// "sealed: 12 records intact, key 0123456789abcdef", "altered at line 5"...
QString verdictText(const Verdict& verdict);

// The files a verification of paths covers: a folder stands for its
// recordings (REC_*.csv), its audit.log and the trails kept aside (audit-N.log),
// in name order.
QStringList filesToVerify(const QStringList& paths);

} // namespace sealing
