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

} // namespace tkrecord
