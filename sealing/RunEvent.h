#pragma once

// The words of a run in the audit trail: who and what a recording is for, the
// events an operator marks, and the controller an entry names. Written by the
// window and the recorder, read back by the viewer, so both sides share these
// pure functions:
//
//   run: REC_2026-12-10_10-00-00.csv; batch "L-4711"; part "gear 12"; operator "alice"
//   event: load in
//   oven2: event: door open
//   event: quench; by "bob"
//
// "by" names who marked the event when that is not the trail line's own user
// (a mark sent to the recorder, which runs as a user of its own).
//
// A value is quoted, with quotes and backslashes escaped by a backslash and
// control characters made spaces, so a line stays one line whatever is typed.

#include <QString>
#include <QStringView>

#include <optional>

namespace sealing {

// What the operator says of a run as it starts; empty fields are left out.
struct RunIdentity {
    QString batch;
    QString part;
    QString customer;
    QString operatorName;
    QString note;

    bool operator==(const RunIdentity&) const = default;
};

struct RunEntry {
    QString fileName;
    RunIdentity run;
};

// What an entry of the trail tells, as far as a chart or a report cares.
enum class EventKind {
    Run,
    Mark,
    AlarmRaised,
    AlarmAcknowledged,
    AlarmCleared,
    SetpointWrite,
    RecordingStarted,
    RecordingStopped,
    Other,
};

// An entry's event with the controller it names split off: empty for the
// program's own events and for a program with one unnamed controller.
struct NamedEvent {
    QString controller;
    QString event;
    EventKind kind = EventKind::Other;
};

// Longest value kept, in characters: a trail line is for reading.
inline constexpr int runValueLimit = 200;

// "run: FILE; batch "…"; part "…"; customer "…"; operator "…"; note "…"".
QString runEvent(const QString& fileName, const RunIdentity& run);
std::optional<RunEntry> parseRunEvent(QStringView event);

struct Mark {
    QString text;
    QString by; // empty: the trail line's user marked it
};

// "event: TEXT", TEXT made one line and cut at runValueLimit; with
// `; by "USER"` after it when by is given. A TEXT that itself ends in what
// reads as `; by "…"` gets an empty `; by ""`, so it reads back whole.
QString markEvent(const QString& text, const QString& by = {});
// The TEXT alone.
std::optional<QString> parseMarkEvent(QStringView event);
std::optional<Mark> parseMark(QStringView event);

// "NAME: event" for a controller of a bus, the event alone otherwise.
QString controllerEvent(const QString& controller, const QString& event);
NamedEvent splitController(QStringView event);
EventKind eventKind(QStringView event);

// A value as written between quotes, and its reading back.
QString quotedValue(const QString& value);
QString oneLine(const QString& text);

} // namespace sealing
