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

// "Not verified: REC_a.csv altered at line 3; REC_b.csv no seal. …", or empty
// when every file is intact.
QString sealBannerText(const QList<std::pair<QString, sealing::Verdict>>& verdicts);
// The same for the files of timeline, verified now.
QString sealBannerText(const Timeline& timeline);
// The same with what keeps the audit trail beside them from being taken:
// "Audit trail not verified: audit.log …; its batch, events and alarms are
// not shown." and the recordings the trail misses.
QString sealBannerText(const Timeline& timeline, const RunTrail& trail);

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
