// The seal's reader and the verdict on arbitrary seals, files and block lists.
//
// Input: the seal's field values, one a line (kind, file, signer, lines,
// records, bytes, head, blocks, pending), then a NUL, the file's bytes, a NUL
// and the block hashes beside the seal. The seal is signed with a fixed key
// here, as anyone holding a key could sign a crafted one, so that what the
// fields say reaches the verdict rather than stopping at the signature.
//
// Judged: nothing crashes or overflows (the sanitizers watch the arithmetic);
// a seal that is read holds counts within their bounds (records within lines,
// lines within bytes, blocks within lines, bytes within the limit); every
// verdict has words; an intact verdict covers no more lines than the file
// holds.

#include "FuzzTarget.h"
#include "SealChain.h"
#include "SealKey.h"
#include "SealText.h"
#include "Verification.h"

#include <QByteArray>
#include <QList>

#include <sodium.h>

namespace {

sealing::SealKey fixedKey() {
    FUZZ_CHECK(sealing::cryptoReady());
    sealing::SealKey key;
    key.signer = QStringLiteral("tkrecord");
    key.publicKey.resize(crypto_sign_PUBLICKEYBYTES);
    key.secretKey = sealing::SecretBytes(crypto_sign_SECRETKEYBYTES);
    unsigned char seed[crypto_sign_SEEDBYTES] = {};
    crypto_sign_seed_keypair(reinterpret_cast<unsigned char*>(key.publicKey.data()),
                             key.secretKey.data(), seed);
    return key;
}

bool bounded(const sealing::Seal::Cover& cover) {
    return cover.bytes <= sealing::sealedBytesLimit && cover.lines <= cover.bytes &&
           cover.records <= cover.lines && cover.blocks <= cover.lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const sealing::SealKey key = fixedKey();
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const QList<QByteArray> parts = input.split('\0');
    const QByteArray fileBytes = parts.value(1);
    const QByteArray blockHashes = parts.value(2);

    const QByteArray sealText = sealing::signedSealText(parts.value(0).split('\n'), key);
    if (const std::optional<sealing::Seal> seal = sealing::readSeal(sealText)) {
        FUZZ_CHECK(bounded(seal->cover));
        FUZZ_CHECK(!seal->pending || bounded(*seal->pending));
    }
    // The name the seeds' seals carry, so that the verdict goes past the name.
    const QString name = QStringLiteral("REC_2026-12-08_21-33-01.csv");
    for (const std::optional<QByteArray>& text : {std::optional(sealText), std::optional(input)}) {
        const sealing::Verdict verdict = sealing::verify(fileBytes, text, blockHashes, name);
        FUZZ_CHECK(!sealing::verdictText(verdict).isEmpty());
        if (verdict.intact())
            FUZZ_CHECK(verdict.line <= fileBytes.count('\n'));
    }
    return 0;
}
