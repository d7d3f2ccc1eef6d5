#include "SealChain.h"

#include <QList>

#include <cstring>

namespace sealing {

namespace {

const unsigned char* bytesOf(const char* data) {
    return reinterpret_cast<const unsigned char*>(data);
}

// Finishes a copy, so the state goes on taking bytes.
QByteArray finalOf(const crypto_generichash_state& state) {
    crypto_generichash_state copy = state;
    QByteArray out(headBytes, Qt::Uninitialized);
    crypto_generichash_final(&copy, reinterpret_cast<unsigned char*>(out.data()), headBytes);
    return out;
}

void startBlock(SealState& state) {
    crypto_generichash_init(&state.block, bytesOf(state.blockKey.constData()),
                            std::size_t(state.blockKey.size()), blockHashBytes);
    const auto index = quint64(state.blockCount());
    unsigned char number[8];
    for (int i = 0; i < 8; ++i)
        number[i] = static_cast<unsigned char>(index >> (8 * i));
    crypto_generichash_update(&state.block, number, sizeof number);
}

void chainLine(SealState& state, QByteArrayView line) {
    crypto_generichash_update(&state.hashing, bytesOf(line.data()), quint64(line.size()));
    crypto_generichash_update(&state.block, bytesOf(line.data()), quint64(line.size()));
    ++state.lines;
    state.bytes += line.size();
    const qint64 index = state.blockCount();
    if (state.lines == blockStart(state.headerLines, index) + blockSize(state.headerLines, index)) {
        const QByteArray hash = finalOf(state.block);
        state.blocks += hash;
        crypto_generichash_update(&state.blockList, bytesOf(hash.constData()), blockHashBytes);
        startBlock(state);
    }
}

} // namespace

bool cryptoReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

Sealed sealedKindOf(const QString& fileName) {
    return fileName == QLatin1String("audit.log") ? Sealed::AuditTrail : Sealed::Recording;
}

QByteArray sealedWord(Sealed kind) {
    return kind == Sealed::AuditTrail ? QByteArrayLiteral("audit trail")
                                      : QByteArrayLiteral("recording");
}

QByteArray joinedFields(const QList<QByteArray>& fields) {
    QByteArray joined;
    for (const QByteArray& field : fields) {
        const auto size = quint32(field.size());
        for (int i = 0; i < 4; ++i)
            joined += char(size >> (8 * i));
        joined += field;
    }
    return joined;
}

QByteArray SealState::head() const {
    return finalOf(hashing);
}

QByteArray SealState::blocksHash() const {
    return finalOf(blockList);
}

qint64 blockSize(int headerLines, qint64 index) {
    return index == 0 && headerLines > 0 ? headerLines : blockLines;
}

qint64 blockStart(int headerLines, qint64 index) {
    if (headerLines == 0)
        return index * blockLines;
    return index == 0 ? 0 : headerLines + (index - 1) * blockLines;
}

QByteArray hashOfBlocks(QByteArrayView blocks) {
    QByteArray out(headBytes, Qt::Uninitialized);
    crypto_generichash(reinterpret_cast<unsigned char*>(out.data()), headBytes,
                       bytesOf(blocks.data()), quint64(blocks.size()), nullptr, 0);
    return out;
}

SealState chainStart(const QString& fileName, const QByteArray& publicKey, int headerLines) {
    cryptoReady();
    SealState state;
    state.fileName = fileName;
    state.publicKey = publicKey;
    state.headerLines = headerLines;
    const QByteArray binding =
        joinedFields({QByteArrayLiteral("tkcontrol seal 2"), sealedWord(sealedKindOf(fileName)),
                      fileName.toUtf8(), publicKey});
    crypto_generichash_init(&state.hashing, nullptr, 0, headBytes);
    crypto_generichash_update(&state.hashing, bytesOf(binding.constData()),
                              quint64(binding.size()));
    state.blockKey = QByteArray(crypto_generichash_KEYBYTES, Qt::Uninitialized);
    const QByteArray keyText = QByteArrayLiteral("blocks") + binding;
    crypto_generichash(reinterpret_cast<unsigned char*>(state.blockKey.data()),
                       std::size_t(state.blockKey.size()), bytesOf(keyText.constData()),
                       quint64(keyText.size()), nullptr, 0);
    crypto_generichash_init(&state.blockList, nullptr, 0, headBytes);
    startBlock(state);
    return state;
}

void addBytes(SealState& state, QByteArrayView bytes) {
    qsizetype from = 0;
    while (from < bytes.size()) {
        const qsizetype end = bytes.indexOf('\n', from);
        if (end < 0) {
            state.partial += bytes.sliced(from).toByteArray();
            return;
        }
        const QByteArrayView piece = bytes.sliced(from, end + 1 - from);
        if (state.partial.isEmpty()) {
            chainLine(state, piece);
        } else {
            state.partial += piece.toByteArray();
            chainLine(state, state.partial);
            state.partial.clear();
        }
        from = end + 1;
    }
}

} // namespace sealing
