#pragma once

// The answering controllers' share of the line, round by round: a round ends
// when every controller that answered at its start has had one exchange since
// (or stopped answering), and its length is the line's time those exchanges
// took, the silence after each included. Longer than the poll interval, the
// answering controllers alone cannot be asked that often, whatever the silent
// ones do. Pure bookkeeping on milliseconds, told what happened.

#include <QString>
#include <QtGlobal>

#include <optional>
#include <vector>

namespace tklink {

class BusRound {
public:
    // Controller's exchange held the line lineMs; answered: it brought a
    // valid answer. answering: which controllers answer now, after this
    // exchange. The round's length when this exchange ended one.
    std::optional<qint64> exchanged(int controller, qint64 lineMs, bool answered,
                                    const std::vector<bool>& answering);

private:
    // Controllers still to be asked in the round under way; empty: none.
    std::vector<bool> m_waiting;
    qint64 m_lineMs = 0;
};

// What the rounds mean for the operator, said once when the answering
// controllers alone no longer fit in the poll interval, and once when they
// fit again with a tenth to spare, so that rounds about the interval long do
// not say it at every round: "the 247 answering controllers cannot be asked
// every 2 s: a round of them takes 6.2 s".
class RoundPace {
public:
    // The words for a round of roundMs, or an empty text when nothing changed.
    QString take(qint64 roundMs, int answering, int intervalMs);

private:
    bool m_tooLong = false;
};

} // namespace tklink
