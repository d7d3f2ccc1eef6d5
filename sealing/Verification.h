#pragma once

// Checking a sealed file against its seal: pure on the file's bytes and the
// seal's text, so that every verdict can be tested without a disk. Lines are
// numbered as a text editor shows them (a recording's header is line 1).

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

#include "TrustedKeys.h"

namespace sealing {

struct Verdict {
    enum class Kind {
        Intact,           // every line as sealed, nothing after
        Altered,          // differs from line on; alsoAltered: further blocks
        Truncated,        // count of sealedLines left; nothing verified from line on
        Added,            // count lines after the sealed line
        HalfLine,         // the sealed lines, then an unfinished one
        NoSeal,           //
        SignatureInvalid, // the seal is not a seal, or not signed by its key
        CoverImpossible,  // signed, but its counts or hashes are no file's
        OtherFile,        // a whole seal, made for sealedFor
        SealTooLarge,     // count bytes: not read
        SealNotRegular,   // a fifo, a device or a folder where the seal should be
        NotRegular,       // the same where the file should be
        RolledBack,       // whole as the seal has it, but the block list goes on
    };
    Kind kind = Kind::NoSeal;
    qint64 line = 0;
    qint64 count = 0;       // records when intact, lines when added or left
    qint64 sealedLines = 0; // when truncated
    QList<qint64> alsoAltered;
    bool headerChanged = false; // a recording's line 1, as a spreadsheet save changes it
    bool unlocated = false;     // altered, but the block list is not the signed one
    // Altered in one block alone (from 1) of blocks, lines line to lastLine;
    // from unlistedFrom (when not 0) to sealedLines the lines are in no block.
    qint64 block = 0;
    qint64 blocks = 0;
    qint64 lastLine = 0;
    qint64 unlistedFrom = 0;
    QString sealedFor; // "the recording REC_….csv", when another file's
    int format = 2;
    QString fingerprint;              // the seal's key, when its signature holds
    QString signer;                   // the program the seal says signed it
    std::optional<QString> trustedAs; // the label of that key, when trusted

    bool intact() const { return kind == Kind::Intact; }
    bool trusted() const { return trustedAs.has_value(); }
    // Intact and signed by a trusted key: the only verdict that vouches.
    bool verified() const { return intact() && trusted(); }
    // Signed by tkcontrol's key, which the operator holds.
    bool operatorKey() const { return signer == QLatin1String("tkcontrol"); }
};

// The verdict for a file named fileName (with its folder's name before a
// "/", as a bus controller's seal binds it, or without), its bytes, its seal
// (none when absent) and the block hashes beside the seal.
Verdict verify(QByteArrayView fileBytes, const std::optional<QByteArray>& sealText,
               QByteArrayView blockHashes, const QString& fileName,
               const TrustedKeys& trusted = {});

// The verdict for the file at path, its seal read from path + ".seal", under
// the system's trusted keys or those given. File and seal are read until the
// seal is the same before and after the file, so that a file being written
// is judged against the seal of what was read.
Verdict verifyFile(const QString& path);
Verdict verifyFile(const QString& path, const TrustedKeys& trusted);
// The same for bytes said to be the file's, under the keys given.
Verdict verifyAgainstSeal(const QString& path, QByteArrayView fileBytes,
                          const TrustedKeys& trusted = {});
// The keys a program trusts in what it finds of its own: its own key alone,
// named as such.
TrustedKeys ownKeyOnly(const QByteArray& publicKey);

// A seal and its block hashes as they were at one moment. Taken before the
// file's bytes are read, a record that lands meanwhile is one the seal may
// already cover as its pending append; taken after, a seal newer than the
// bytes would find them cut short.
struct SealSnapshot {
    std::optional<QByteArray> seal;
    QByteArray blocks;
    qint64 tooLarge = 0; // the seal's size when too large to be one; -1: not a regular file
};
SealSnapshot takeSealSnapshot(const QString& path);
// The verdict for the file at path read after the snapshot, as fileBytes.
Verdict verifySnapshot(const SealSnapshot& snapshot, const QString& path, QByteArrayView fileBytes,
                       const TrustedKeys& trusted);

// "sealed: 12 records intact, signed by oven1 recorder (key 0123456789abcdef)",
// "differs from line 5 on; nothing after it verified"...
QString verdictText(const Verdict& verdict);

// text with its control characters shown as \xHH, so that a file's name
// cannot move a terminal's cursor or colours.
QString escapedText(const QString& text);

// The recordings of a recorder's folder, by their names relative to it, as
// its audit trail names them: REC_*.csv, and on a bus each controller's in
// its sub-folder (NAME/REC_*.csv), in name order.
QStringList recordingsIn(const QString& folder);

// The files a verification of paths covers: a folder stands for its
// recordings, its audit.log and the trails kept aside (audit-N.log), in name
// order.
QStringList filesToVerify(const QStringList& paths);

} // namespace sealing
