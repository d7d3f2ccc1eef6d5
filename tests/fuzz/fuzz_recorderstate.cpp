// The reader of the recorder's state, and the comparison of a folder with it.
//
// Input: a state's text as it is, and the same text given the check line it
// lacks, so that what the lines say reaches the reader rather than stopping
// at the check, as a state the recorder's own key folder holds could say
// anything after a disk error. The input's bytes also stand as every
// recording the state names, and as the trail.
//
// Judged: nothing crashes or overflows; a state that is read is written
// again as a text that reads back as the same state, with the same text; a
// recording found as the recorder left it matches no more bytes than it
// holds; every finding has words.

#include "AuditTrail.h"
#include "FuzzTarget.h"
#include "RecorderState.h"
#include "TrailCheck.h"

#include <QByteArray>

namespace {

void judge(const QByteArray& text, const QByteArray& input) {
    const std::optional<sealing::RecorderStateData> state = sealing::readStateText(text);
    if (!state)
        return;
    const QByteArray written = sealing::stateText(*state);
    const std::optional<sealing::RecorderStateData> again = sealing::readStateText(written);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(sealing::stateText(*again) == written);
    FUZZ_CHECK(again->folder == state->folder && again->trailEntry == state->trailEntry &&
               again->trailHead == state->trailHead && again->open.size() == state->open.size());

    std::map<QString, QByteArray> recordings;
    for (const auto& [name, recording] : state->open) {
        qint64 matched = 0;
        if (sealing::recordingAgainstState(recording, input, &matched).isEmpty())
            FUZZ_CHECK(matched <= input.size());
        recordings[name] = input;
    }
    const QStringList findings =
        sealing::stateFindings(*state, {{sealing::auditFileName, input}}, recordings);
    for (const QString& finding : findings)
        FUZZ_CHECK(!finding.isEmpty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    judge(input, input);
    QByteArray checked = input;
    if (!checked.isEmpty() && !checked.endsWith('\n'))
        checked += '\n';
    checked += "check " + sealing::trailHead(checked).toLatin1() + '\n';
    judge(checked, input);
    return 0;
}
