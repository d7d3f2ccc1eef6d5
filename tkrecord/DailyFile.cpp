#include "DailyFile.h"

#include "RecordFormat.h"

namespace tkrecord {

DailyFile::DailyFile(const QDateTime& start)
    : m_date(start.date()), m_name(recording::recordFileNameFor(start)) {}

QString DailyFile::fileFor(const QDateTime& now, bool* begun) {
    // Any other date, earlier ones included: a clock set back over midnight
    // must not append yesterday's lines to today's file.
    const bool changed = now.date() != m_date;
    if (changed) {
        m_date = now.date();
        m_name = recording::recordFileNameFor(now);
    }
    if (begun)
        *begun = changed;
    return m_name;
}

QString DailyFile::beginAgain(const QDateTime& now,
                              const std::function<bool(const QString&)>& taken) {
    m_date = now.date();
    const QString base = recording::recordFileNameFor(now);
    m_name = base;
    for (int n = 2; taken(m_name); ++n)
        m_name = base.chopped(4) + QStringLiteral("_%1.csv").arg(n);
    return m_name;
}

} // namespace tkrecord
