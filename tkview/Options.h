#pragma once

// The command line of tkview: what to open and what to make without a window.

#include <QSize>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <cstdint>
#include <optional>
#include <variant>

namespace tkview {

struct Options {
    QStringList paths;                  // files and folders, in the order given
    QString csvOut;                     // --csv OUT.csv
    QString spreadsheetOut;             // --spreadsheet OUT.csv, in the system's locale
    QString reportOut;                  // --report OUT.pdf
    QString pngOut;                     // --png OUT.png
    QString svgOut;                     // --svg OUT.svg
    QSize size{1920, 1080};             // --size WxH, for --png and --svg
    std::optional<std::int64_t> fromMs; // --from TIME
    std::optional<std::int64_t> toMs;   // --to TIME
    bool help = false;
    bool version = false;
    bool verify = false;          // --verify: the seals of the files, nothing shown
    QStringList trust;            // --trust KEYFILE|KEY|FINGERPRINT, for --verify
    QString journal;              // --journal JOURNAL.json, with --verify
    QString state;                // --state FILE|FOLDER: the recorder's own, with --verify
    bool compare = false;         // --compare: each path is a run, laid over the others
    bool alignAtSetpoint = false; // --align setpoint
    bool alignGiven = false;

    // Something to make without a window.
    bool headless() const {
        return !csvOut.isEmpty() || !spreadsheetOut.isEmpty() || !reportOut.isEmpty() ||
               !pngOut.isEmpty() || !svgOut.isEmpty();
    }
};

// The options, or the sentence that says what is wrong with them. A TIME is
// an ISO 8601 date and time ("2026-12-08T21:33", "2026-12-08 21:33:01",
// "...+01:00"), read in `zone` when it carries no offset.
std::variant<Options, QString> parseOptions(const QStringList& arguments,
                                            const QTimeZone& zone = QTimeZone::systemTimeZone());

QString usageText();
QString versionNumber();

// Exit statuses. --verify: 0 every file intact under a trusted key, 1 a
// file not intact (altered, cut, added to, no seal or a bad one).
inline constexpr int exitDone = 0;
inline constexpr int exitFileFailed = 1;
inline constexpr int exitBadOption = 2;
// --verify: every file intact, but some signed by a key not trusted.
inline constexpr int exitUntrusted = 3;

} // namespace tkview
