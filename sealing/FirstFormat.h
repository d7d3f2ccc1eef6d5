#pragma once

// Seals written before the block hashes (first line "tkcontrol seal 1"):
// still read, so that recordings sealed then keep their verdicts. Nothing
// writes them any more.

#include <QByteArray>
#include <QByteArrayView>

#include "Verification.h"

namespace sealing {

inline constexpr QByteArrayView firstFormatLine = "tkcontrol seal 1";

// The verdict for a file's bytes against a seal of the first format: its
// key's fingerprint and the public key set, trust left to the caller.
Verdict verifyFirstFormat(QByteArrayView fileBytes, const QByteArray& sealText,
                          QByteArray* publicKey);

} // namespace sealing
