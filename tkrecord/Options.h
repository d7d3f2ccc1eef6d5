#pragma once

// tkrecord's command line. Pure, so that every message can be checked
// without starting the program.

#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

#include "RunEvent.h"

namespace tkrecord {

struct Options {
    QString dir; // empty: the working directory
    bool metrics = false;
    QString metricsHost = QStringLiteral("127.0.0.1");
    quint16 metricsPort = 0;    // 0: any free port, told at start
    bool probe = false;         // search for the controller instead of recording
    int lastProbedAddress = 32; // --probe asks the addresses from 1 to this
    bool help = false;
    bool version = false;
    bool keyFingerprint = false;
    QString key;         // --key FILE; empty: sealing::recorderKeyPath()
    bool noSeal = false; // --no-seal: record without seals
    // --batch, --part, --customer, --operator, --note: the run recorded, or
    // sent with --run; the operator left empty is the user.
    sealing::RunIdentity run;
    // --mark TEXT and --run go to the recorder running in the folder.
    std::optional<QString> mark;
    bool newRun = false;
    QString controller; // --controller NAME, with --mark or --run
};

// The arguments after the program's name, or the message for a bad one.
std::variant<Options, QString> parseOptions(const QStringList& arguments);

// The text of --help.
QString usageText();

// "1.02": the program's version, shared with tkcontrol.
QString versionNumber();

} // namespace tkrecord
