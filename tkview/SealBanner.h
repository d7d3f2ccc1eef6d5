#pragma once

// The red banner over the chart and at the top of the report's first page
// when a file shown is not verified: altered, unsealed, or sealed by a key
// that is not trusted. Its values are still drawn, but nobody should take
// them for sealed ones.

#include <QLabel>
#include <QList>
#include <QRectF>
#include <QString>

#include <utility>

#include "Verification.h"

class QPainter;

namespace tkview {

struct Timeline;
struct RunTrail;

// Files the banner names; past them, it counts them.
inline constexpr qsizetype namedInBanner = 3;

// Where the files the banner only counts are listed one by one.
enum class BannerListing { AtTheEnd, InTheToolTip };

// "Not verified: REC_a.csv altered at line 3; REC_b.csv no seal. …", or empty
// when every file is intact; past a few files, "365 files not verified;
// listed at the end. …", so that the banner stays short.
QString sealBannerText(const QList<std::pair<QString, sealing::Verdict>>& verdicts,
                       BannerListing listing = BannerListing::AtTheEnd);
// The same for the files of timeline, verified now.
QString sealBannerText(const Timeline& timeline, BannerListing listing = BannerListing::AtTheEnd);
// The same with what keeps the audit trail beside them from being taken:
// "Audit trail not verified: audit.log …; its batch, events and alarms are
// not shown." and the recordings the trail misses.
QString sealBannerText(const Timeline& timeline, const RunTrail& trail,
                       BannerListing listing = BannerListing::AtTheEnd);

// Each file of timeline that is not verified: "REC_a.csv altered at line 3".
QStringList unverifiedFiles(const Timeline& timeline);

// The banner in a window: hidden while its text is empty.
class SealBanner : public QLabel {
    Q_OBJECT

public:
    explicit SealBanner(QWidget* parent = nullptr);
    void showText(const QString& text);
};

// Draws text as a banner across the top of area on a page; returns the
// height it took (none for an empty text).
double drawSealBanner(QPainter& painter, const QRectF& area, const QString& text);

} // namespace tkview
