#include "SealChain.h"

#include <sodium.h>

#include <cstring>

namespace sealing {

namespace {

static_assert(linkBytes == crypto_generichash_BYTES);

const unsigned char* bytesOf(const char* data) {
    return reinterpret_cast<const unsigned char*>(data);
}

} // namespace

bool cryptoReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

SealState chainStart(const QString& fileName, const QByteArray& publicKey, int headerLines) {
    cryptoReady();
    SealState state;
    state.fileName = fileName;
    state.publicKey = publicKey;
    state.headerLines = headerLines;
    const QByteArray binding =
        QByteArrayLiteral("tkcontrol seal 1\nfile ") + fileName.toUtf8() + '\n' + publicKey;
    state.head.resize(linkBytes);
    crypto_generichash(reinterpret_cast<unsigned char*>(state.head.data()), linkBytes,
                       bytesOf(binding.constData()), quint64(binding.size()), nullptr, 0);
    return state;
}

void nextLink(unsigned char* out, const unsigned char* head, QByteArrayView line) {
    // A record line with the link before it fits one BLAKE2b block: one call,
    // no hashing state, is what lets verification run at disk speed.
    unsigned char buffer[256];
    if (line.size() <= qsizetype(sizeof buffer) - linkBytes) {
        std::memcpy(buffer, head, linkBytes);
        std::memcpy(buffer + linkBytes, line.data(), std::size_t(line.size()));
        crypto_generichash(out, linkBytes, buffer, quint64(linkBytes + line.size()), nullptr, 0);
        return;
    }
    crypto_generichash_state hashing;
    crypto_generichash_init(&hashing, nullptr, 0, linkBytes);
    crypto_generichash_update(&hashing, head, linkBytes);
    crypto_generichash_update(&hashing, bytesOf(line.data()), quint64(line.size()));
    crypto_generichash_final(&hashing, out, linkBytes);
}

QByteArray nextLink(const QByteArray& head, QByteArrayView line) {
    QByteArray link(linkBytes, Qt::Uninitialized);
    nextLink(reinterpret_cast<unsigned char*>(link.data()), bytesOf(head.constData()), line);
    return link;
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
            state.head = nextLink(state.head, piece);
            state.bytes += piece.size();
        } else {
            state.partial += piece.toByteArray();
            state.head = nextLink(state.head, state.partial);
            state.bytes += state.partial.size();
            state.partial.clear();
        }
        state.tags += state.head.left(tagBytes);
        from = end + 1;
    }
}

} // namespace sealing
