#pragma once

// Taking apart the lines of a recording, byte by byte: a general-purpose date
// parser costs microseconds a line, a million lines must take well under a
// second. Dates are read as the writer's short date format left them (any
// order, dots, dashes or slashes, a C-locale month name, ASCII or Arabic-Indic
// digits, AM/PM) or as a spreadsheet rewrote them ("2024-05-17 14:03:07",
// "08/12/26 11:45 PM": two-digit years and no seconds).

#include <cstdint>

namespace tkview {

// How the date of a line is laid out; the order of day and month (and, for
// two-digit years, where the year is) is decided for a whole file.
enum class DateLayout : std::uint8_t { YearFirst, YearLast, MonthName, TwoDigitYear };
inline constexpr int dateLayoutCount = 4;

enum class LineFault : std::uint8_t {
    None,
    NoDate,       // no day, month and year
    BadTime,      // no hour and minute, or one out of range
    DayMonth,     // the day or month does not fit the file's order of them
    MissingValue, // fewer than three values after the date
    BadValue,     // a value that is not a whole number
    ValueRange,   // a value beyond a 16-bit register
    ExtraValue,   // more than three values after the date
};

// A record line taken apart before the file's order of day and month is known.
struct LineFields {
    DateLayout layout = DateLayout::YearLast;
    bool twelveHour = false; // the time had AM or PM
    std::uint16_t year = 0;
    // The two other numbers of the date in the order written; for MonthName
    // the day and the month. TwoDigitYear has three numbers ("26-08-12",
    // "08/12/26") and no year.
    std::uint8_t first = 0;
    std::uint8_t second = 0;
    std::uint8_t third = 0;
    std::int32_t secondOfDay = 0;
    // Raw values as written, 8888 included.
    std::int32_t setpoint = 0;
    std::int32_t temperature = 0;
    std::int32_t power = 0;
};

// Reads the line [begin, end) (without its line end) whose fields are split by
// `separator`. On LineFault::None `fields` holds the line.
LineFault parseRecordLine(const char* begin, const char* end, char separator, LineFields& fields);

// The field separator when [begin, end) is the header line of a recording
// ("Time;Setpoint;Temperature;Power;", quotes, a trailing separator or a
// byte order mark removed or not), 0 when it is not.
char headerSeparator(const char* begin, const char* end);

// The start time "REC_yyyy-mm-dd_hh-mm-ss" at the beginning of a file name, as
// local seconds since 1970 read as if in UTC; false when the name has none.
bool startFromFileName(const char* name, std::int64_t& localSeconds);

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(int year, int month, int day);

// Whether day is a day of that month.
bool isValidDate(int year, int month, int day);

} // namespace tkview
