#include "BusRound.h"

#include <algorithm>

namespace tklink {

std::optional<qint64> BusRound::exchanged(int controller, qint64 lineMs, bool answered,
                                          const std::vector<bool>& answering) {
    const auto c = std::size_t(controller);
    const bool open = std::find(m_waiting.begin(), m_waiting.end(), true) != m_waiting.end();
    if (!open) {
        // A round begins with an answer: the controllers answering then are
        // the round's.
        if (!answered)
            return std::nullopt;
        m_waiting = answering;
        m_waiting.resize(answering.size(), false);
        m_lineMs = 0;
    }
    if (c < m_waiting.size() && m_waiting[c]) {
        m_waiting[c] = false;
        if (answered)
            m_lineMs += lineMs;
    }
    // One that stopped answering is no longer waited for.
    for (std::size_t i = 0; i < m_waiting.size() && i < answering.size(); ++i)
        m_waiting[i] = m_waiting[i] && answering[i];
    if (std::find(m_waiting.begin(), m_waiting.end(), true) != m_waiting.end())
        return std::nullopt;
    m_waiting.clear();
    return m_lineMs;
}

QString RoundPace::take(qint64 roundMs, int answering, int intervalMs) {
    const bool tooLong =
        m_tooLong ? roundMs * 10 > qint64(intervalMs) * 9 : roundMs > qint64(intervalMs);
    if (tooLong == m_tooLong)
        return {};
    m_tooLong = tooLong;
    const QString interval = QString::number(intervalMs / 1000.0, 'g', 3);
    const QString round = QString::number(double(roundMs) / 1000.0, 'f', 1);
    if (tooLong)
        return QStringLiteral("the %1 answering controllers cannot be asked every %2 s: a round "
                              "of them takes %3 s")
            .arg(QString::number(answering), interval, round);
    return QStringLiteral("the answering controllers are asked every %1 s again: a round of them "
                          "takes %2 s")
        .arg(interval, round);
}

} // namespace tklink
