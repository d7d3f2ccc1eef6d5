#include "SealBanner.h"

#include <QFont>
#include <QPainter>

#include "RunTrail.h"
#include "Timeline.h"

namespace tkview {

namespace {

const QColor bannerRed(0xc0, 0x00, 0x00);

QStringList unverified(const QList<std::pair<QString, sealing::Verdict>>& verdicts) {
    QStringList failed;
    for (const auto& [name, verdict] : verdicts) {
        // Intact under an untrusted key is not verified either.
        if (!verdict.verified())
            failed << name + QLatin1Char(' ') + sealing::verdictText(verdict);
    }
    return failed;
}

QList<std::pair<QString, sealing::Verdict>> verdictsOf(const Timeline& timeline) {
    QList<std::pair<QString, sealing::Verdict>> verdicts;
    for (const SourceFile& file : timeline.files)
        verdicts.append({file.name, file.seal});
    return verdicts;
}

} // namespace

QString sealBannerText(const QList<std::pair<QString, sealing::Verdict>>& verdicts,
                       BannerListing listing) {
    const QStringList failed = unverified(verdicts);
    if (failed.isEmpty())
        return {};
    const QString notVouched = QStringLiteral("The values shown are not vouched for by a seal.");
    if (failed.size() <= namedInBanner)
        return QStringLiteral("Not verified: %1. ").arg(failed.join(QLatin1String("; "))) +
               notVouched;
    return QStringLiteral("%1 files not verified; %2. ")
               .arg(failed.size())
               .arg(listing == BannerListing::AtTheEnd
                        ? QStringLiteral("listed at the end")
                        : QStringLiteral("point here for the list")) +
           notVouched;
}

QString sealBannerText(const Timeline& timeline, BannerListing listing) {
    return sealBannerText(verdictsOf(timeline), listing);
}

QStringList unverifiedFiles(const Timeline& timeline) {
    return unverified(verdictsOf(timeline));
}

QString sealBannerText(const Timeline& timeline, const RunTrail& trail, BannerListing listing) {
    QStringList parts;
    if (const QString seals = sealBannerText(timeline, listing); !seals.isEmpty())
        parts << seals;
    if (!trail.notVerified.isEmpty())
        parts << QStringLiteral("Audit trail not verified: %1. Its batch, events and alarms are "
                                "not shown.")
                     .arg(trail.notVerified.join(QLatin1String("; ")));
    if (!trail.recordingFindings.isEmpty())
        parts << QStringLiteral("The audit trail finds: %1.")
                     .arg(trail.recordingFindings.join(QLatin1String("; ")));
    return parts.join(QLatin1Char(' '));
}

SealBanner::SealBanner(QWidget* parent) : QLabel(parent) {
    setWordWrap(true);
    setMargin(8);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setStyleSheet(QStringLiteral("QLabel { background: %1; color: white; font-weight: bold; }")
                      .arg(bannerRed.name()));
    hide();
}

void SealBanner::showText(const QString& text) {
    setText(text);
    setVisible(!text.isEmpty());
}

double drawSealBanner(QPainter& painter, const QRectF& area, const QString& text) {
    if (text.isEmpty())
        return 0;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(9);
    font.setBold(true);
    painter.save();
    painter.setFont(font);
    const QRectF inner = area.adjusted(6, 0, -6, 0);
    const QRectF needed = painter.boundingRect(
        QRectF(inner.left(), area.top() + 5, inner.width(), 1000), Qt::TextWordWrap, text);
    const QRectF banner(area.left(), area.top(), area.width(), needed.height() + 10);
    painter.fillRect(banner, bannerRed);
    painter.setPen(Qt::white);
    painter.drawText(needed, Qt::TextWordWrap, text);
    painter.restore();
    return banner.height() + 6;
}

} // namespace tkview
