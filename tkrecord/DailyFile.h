#pragma once

// The recording file of an unattended run: the first named after the run's
// start, then a new one at each change of the local date, named after its
// first record, so that a run of weeks gives one file a day.

#include <QDateTime>
#include <QString>

#include <functional>

namespace tkrecord {

class DailyFile {
public:
    explicit DailyFile(const QDateTime& start);

    // The file a record taken at now belongs in; true in begun when that is a
    // file other than the last one given.
    QString fileFor(const QDateTime& now, bool* begun = nullptr);
    QString current() const { return m_name; }
    // A file other than the current one, begun now: named after now, with
    // "_2", "_3"… before ".csv" while taken says a name is in use.
    QString beginAgain(const QDateTime& now, const std::function<bool(const QString&)>& taken);

private:
    QDate m_date;
    QString m_name;
};

} // namespace tkrecord
