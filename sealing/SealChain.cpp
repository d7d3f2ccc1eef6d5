#include "SealChain.h"

#include <cstring>

namespace sealing {

namespace {

const unsigned char* bytesOf(const char* data) {
    return reinterpret_cast<const unsigned char*>(data);
}

void chainLine(SealState& state, QByteArrayView line) {
    crypto_generichash_update(&state.hashing, bytesOf(line.data()), quint64(line.size()));
    state.link = nextLink(state, state.link, line);
    const auto tag = tagOf(state.link);
    const QByteArrayView tagView(reinterpret_cast<const char*>(tag.data()), tagBytes);
    state.tags += tagView;
    state.tagsText += tagView.toByteArray().toBase64();
    crypto_generichash_update(&state.tagsHashing, tag.data(), tagBytes);
    state.bytes += line.size();
}

} // namespace

bool cryptoReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

namespace {

// Finishes a copy, so the state goes on taking lines.
QByteArray finalOf(const crypto_generichash_state& state) {
    crypto_generichash_state copy = state;
    QByteArray out(headBytes, Qt::Uninitialized);
    crypto_generichash_final(&copy, reinterpret_cast<unsigned char*>(out.data()), headBytes);
    return out;
}

} // namespace

QByteArray SealState::head() const {
    return finalOf(hashing);
}

QByteArray SealState::tagsHash() const {
    return finalOf(tagsHashing);
}

QByteArray hashOfTags(const QByteArray& tags) {
    crypto_generichash_state hashing;
    crypto_generichash_init(&hashing, nullptr, 0, headBytes);
    crypto_generichash_update(&hashing, reinterpret_cast<const unsigned char*>(tags.constData()),
                              quint64(tags.size()));
    return finalOf(hashing);
}

SealState chainStart(const QString& fileName, const QByteArray& publicKey, int headerLines) {
    cryptoReady();
    SealState state;
    state.fileName = fileName;
    state.publicKey = publicKey;
    state.headerLines = headerLines;
    const QByteArray binding =
        QByteArrayLiteral("tkcontrol seal 1\nfile ") + fileName.toUtf8() + '\n' + publicKey;
    crypto_generichash_init(&state.hashing, nullptr, 0, headBytes);
    crypto_generichash_init(&state.tagsHashing, nullptr, 0, headBytes);
    crypto_generichash_update(&state.hashing, bytesOf(binding.constData()),
                              quint64(binding.size()));
    unsigned char bound[crypto_generichash_BYTES];
    crypto_generichash(bound, sizeof bound, bytesOf(binding.constData()), quint64(binding.size()),
                       nullptr, 0);
    std::memcpy(state.linkKey.data(), bound, state.linkKey.size());
    std::memcpy(&state.link, bound + state.linkKey.size(), sizeof state.link);
    return state;
}

quint64 nextLink(const SealState& state, quint64 link, QByteArrayView line) {
    unsigned char buffer[256];
    unsigned char out[crypto_shorthash_BYTES];
    std::memcpy(buffer, &link, sizeof link);
    if (line.size() <= qsizetype(sizeof buffer - sizeof link)) {
        std::memcpy(buffer + sizeof link, line.data(), std::size_t(line.size()));
        crypto_shorthash(out, buffer, sizeof link + quint64(line.size()), state.linkKey.data());
    } else {
        // A long line is hashed alone first.
        crypto_shorthash(buffer + sizeof link, bytesOf(line.data()), quint64(line.size()),
                         state.linkKey.data());
        crypto_shorthash(out, buffer, sizeof link + crypto_shorthash_BYTES, state.linkKey.data());
    }
    quint64 next = 0;
    std::memcpy(&next, out, sizeof next);
    return next;
}

std::array<unsigned char, tagBytes> tagOf(quint64 link) {
    std::array<unsigned char, tagBytes> tag{};
    for (int i = 0; i < tagBytes; ++i)
        tag[std::size_t(i)] = static_cast<unsigned char>(link >> (8 * i));
    return tag;
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
