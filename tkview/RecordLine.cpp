#include "RecordLine.h"

#include <QByteArray>
#include <QChar>
#include <QLocale>

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

namespace tkview {

namespace {

// The length of the UTF-8 sequence at p (1 for a stray byte) and its code
// point.
int decodeUtf8(const unsigned char* p, const unsigned char* end, char32_t& code) {
    const unsigned char c = *p;
    const int length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (length == 1 || end - p < length) {
        code = c;
        return 1;
    }
    code = c & (0x3F >> (length - 1));
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            code = c;
            return 1;
        }
        code = (code << 6) | (p[i] & 0x3F);
    }
    return length;
}

// The morning and afternoon markers of every locale Qt knows ("오후", "Μ.Μ.",
// "م", "P. M."), longest first, with 1 for AM and 2 for PM; a text that means
// AM in one locale and PM in another is left out.
const std::vector<std::pair<QByteArray, int>>& markers() {
    static const std::vector<std::pair<QByteArray, int>> list = [] {
        std::vector<std::pair<QByteArray, int>> found;
        for (const QLocale& locale : QLocale::matchingLocales(
                 QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory)) {
            // As written, or upper or lower case as the formats "AP" and "ap" give.
            for (const auto& [name, meaning] :
                 {std::pair(locale.amText(), 1), std::pair(locale.pmText(), 2)})
                for (const QByteArray& text :
                     {name.toUtf8(), name.toUpper().toUtf8(), name.toLower().toUtf8()})
                    if (!text.isEmpty())
                        found.emplace_back(text, meaning);
        }
        std::sort(found.begin(), found.end());
        found.erase(std::unique(found.begin(), found.end()), found.end());
        std::vector<std::pair<QByteArray, int>> list;
        for (std::size_t i = 0; i < found.size(); ++i) {
            const bool both = (i > 0 && found[i - 1].first == found[i].first) ||
                              (i + 1 < found.size() && found[i + 1].first == found[i].first);
            if (!both)
                list.push_back(found[i]);
        }
        std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
            return a.first.size() > b.first.size();
        });
        return list;
    }();
    return list;
}

// The markers by their first byte: a word that starts no marker costs one
// look-up, not a scan of every locale's table.
const std::array<std::vector<std::pair<QByteArray, int>>, 256>& markersByFirstByte() {
    static const auto table = [] {
        std::array<std::vector<std::pair<QByteArray, int>>, 256> byByte;
        for (const auto& marker : markers())
            byByte[static_cast<unsigned char>(marker.first[0])].push_back(marker);
        return byByte;
    }();
    return table;
}

// 1 or 2 when a marker starts at p, with its length in bytes.
int markerAt(const unsigned char* p, const unsigned char* end, std::size_t& length) {
    for (const auto& [text, meaning] : markersByFirstByte()[*p]) {
        length = std::size_t(text.size());
        if (std::size_t(end - p) >= length && std::memcmp(p, text.constData(), length) == 0)
            return meaning;
    }
    return 0;
}

bool isLetter(unsigned char c) {
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}

// 1..12 for a month name the C locale writes ("Dec") or in full, 0 otherwise.
int monthOfWord(const unsigned char* word, std::size_t length) {
    if (length < 3)
        return 0;
    static const char names[] = "janfebmaraprmayjunjulaugsepoctnovdec";
    const char key[3] = {char(word[0] | 0x20), char(word[1] | 0x20), char(word[2] | 0x20)};
    for (int m = 0; m < 12; ++m)
        if (std::memcmp(names + std::ptrdiff_t(3) * m, key, 3) == 0)
            return m + 1;
    return 0;
}

// A whole number with an optional sign, blanks and quotes around it.
LineFault parseValue(const char*& p, const char* end, char separator, std::int32_t& value) {
    while (p < end && (*p == ' ' || *p == '"'))
        ++p;
    if (p == end || *p == separator)
        return LineFault::MissingValue;
    const bool negative = *p == '-';
    if (negative || *p == '+')
        ++p;
    std::int64_t v = 0;
    int digits = 0;
    while (p < end && *p >= '0' && *p <= '9' && digits < 12) {
        v = v * 10 + (*p++ - '0');
        ++digits;
    }
    while (p < end && (*p == ' ' || *p == '"'))
        ++p;
    if (digits == 0 || (p < end && *p != separator))
        return LineFault::BadValue;
    if (p < end)
        ++p;
    if (v > 65535)
        return LineFault::ValueRange;
    value = std::int32_t(negative ? -v : v);
    return LineFault::None;
}

} // namespace

LineFault parseRecordLine(const char* begin, const char* end, char separator, LineFields& fields) {
    const auto* p = reinterpret_cast<const unsigned char*>(begin);
    const auto* stop = reinterpret_cast<const unsigned char*>(end);
    // The date field: up to a separator outside quotes.
    std::int32_t numbers[8];
    int digitCounts[8];
    int count = 0;
    int month = 0;
    int meridiem = 0; // 1 AM, 2 PM
    bool quoted = false;
    bool inNumber = false;
    for (; p < stop; ++p) {
        const unsigned char c = *p;
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 0xC0) {
            // Any script's digits: Arabic-Indic, Persian, Devanagari, ...
            char32_t code = 0;
            const int length = decodeUtf8(p, stop, code);
            if (QChar::isDigit(code)) {
                digit = QChar::digitValue(code);
                p += length - 1;
            }
        }
        if (digit >= 0) {
            if (!inNumber) {
                if (count == 8)
                    return LineFault::NoDate;
                numbers[count] = 0;
                digitCounts[count] = 0;
                ++count;
                inNumber = true;
            }
            if (++digitCounts[count - 1] > 4)
                return LineFault::NoDate;
            numbers[count - 1] = numbers[count - 1] * 10 + digit;
            continue;
        }
        inNumber = false;
        if (c == '"') {
            quoted = !quoted;
        } else if (c == static_cast<unsigned char>(separator) && !quoted) {
            break;
        } else if (isLetter(c) || c >= 0xC0) {
            std::size_t length = 0;
            const int meaning = markerAt(p, stop, length);
            // An ASCII marker is a whole word: "PM", not the start of "PMx".
            if (meaning != 0 && (c >= 0xC0 || p + length == stop || !isLetter(p[length]))) {
                meridiem = meaning;
                p += length - 1;
            } else if (c >= 0xC0) {
                char32_t code = 0;
                p += decodeUtf8(p, stop, code) - 1;
            } else {
                const unsigned char* word = p;
                while (p + 1 < stop && (isLetter(p[1]) || p[1] == '.'))
                    ++p;
                const auto wordLength = std::size_t(p - word + 1);
                const auto a = char(word[0] | 0x20);
                // "AM", "pm", "a.m.", should no locale's table hold them.
                const bool marker =
                    (a == 'a' || a == 'p') &&
                    ((wordLength == 2 && (word[1] | 0x20) == 'm') ||
                     (wordLength == 4 && word[1] == '.' && (word[2] | 0x20) == 'm'));
                if (marker)
                    meridiem = a == 'a' ? 1 : 2;
                else if (int m = monthOfWord(word, wordLength))
                    month = m;
            }
        }
    }
    // A line that ends after its date lacks its values, if the date is one.
    const bool valuesFollow = p != stop;
    if (valuesFollow)
        ++p;

    // The date: three numbers with one of four digits, or a month name.
    int timeAt = 3;
    if (month != 0) {
        if (count < 2)
            return LineFault::NoDate;
        const int yearAt = digitCounts[0] == 4 ? 0 : 1;
        if (digitCounts[yearAt] != 4 || digitCounts[1 - yearAt] > 2)
            return LineFault::NoDate;
        fields.layout = DateLayout::MonthName;
        fields.year = std::uint16_t(numbers[yearAt]);
        fields.first = std::uint8_t(numbers[1 - yearAt]);
        fields.second = std::uint8_t(month);
        timeAt = 2;
    } else {
        if (count < 3)
            return LineFault::NoDate;
        int yearAt = 2;
        if (digitCounts[0] == 4 && digitCounts[1] <= 2 && digitCounts[2] <= 2) {
            fields.layout = DateLayout::YearFirst;
            yearAt = 0;
        } else if (digitCounts[0] <= 2 && digitCounts[1] <= 2 && digitCounts[2] == 4) {
            fields.layout = DateLayout::YearLast;
        } else if (digitCounts[0] <= 2 && digitCounts[1] <= 2 && digitCounts[2] <= 2) {
            // A spreadsheet shows "08/12/26" or "26-08-12".
            fields.layout = DateLayout::TwoDigitYear;
            fields.third = std::uint8_t(numbers[2]);
        } else {
            return LineFault::NoDate;
        }
        fields.year =
            fields.layout == DateLayout::TwoDigitYear ? 0 : std::uint16_t(numbers[yearAt]);
        fields.first = std::uint8_t(numbers[yearAt == 0 ? 1 : 0]);
        fields.second = std::uint8_t(numbers[yearAt == 0 ? 2 : 1]);
        if (fields.first == 0 || fields.first > 31 || fields.second == 0 || fields.second > 31)
            return LineFault::NoDate;
    }

    // The time: hours and minutes, seconds when given, a fraction ignored.
    const int timeCount = count - timeAt;
    if (timeCount < 2 || timeCount > 4)
        return LineFault::BadTime;
    int hour = numbers[timeAt];
    const int minute = numbers[timeAt + 1];
    const int second = timeCount > 2 ? numbers[timeAt + 2] : 0;
    if (meridiem != 0) {
        if (hour < 1 || hour > 12)
            return LineFault::BadTime;
        hour = hour % 12 + (meridiem == 2 ? 12 : 0);
    }
    if (hour > 23 || minute > 59 || second > 59)
        return LineFault::BadTime;
    fields.twelveHour = meridiem != 0;
    fields.secondOfDay = hour * 3600 + minute * 60 + second;
    if (!valuesFollow)
        return LineFault::MissingValue;

    const char* q = reinterpret_cast<const char*>(p);
    if (LineFault f = parseValue(q, end, separator, fields.setpoint); f != LineFault::None)
        return f;
    if (LineFault f = parseValue(q, end, separator, fields.temperature); f != LineFault::None)
        return f;
    if (LineFault f = parseValue(q, end, separator, fields.power); f != LineFault::None)
        return f;
    // Blanks may follow (a trailing separator is eaten with the power), more
    // fields may not: a line of a thousand fields is not a record.
    while (q < end && (*q == ' ' || *q == separator))
        ++q;
    return q == end ? LineFault::None : LineFault::ExtraValue;
}

char headerSeparator(const char* begin, const char* end) {
    if (end - begin >= 3 && std::memcmp(begin, "\xEF\xBB\xBF", 3) == 0)
        begin += 3;
    static const char* const names[] = {"Time", "Setpoint", "Temperature", "Power"};
    for (char separator : {';', ',', '\t'}) {
        const char* p = begin;
        bool matches = true;
        for (int i = 0; i < 4 && matches; ++i) {
            const bool quoted = p < end && *p == '"';
            p += quoted;
            const std::size_t length = std::strlen(names[i]);
            matches = std::size_t(end - p) >= length && std::memcmp(p, names[i], length) == 0;
            p += matches ? length : 0;
            if (matches && quoted)
                matches = p < end && *p++ == '"';
            if (matches && i < 3)
                matches = p < end && *p++ == separator;
        }
        if (matches && (p == end || (*p == separator && p + 1 == end)))
            return separator;
    }
    return 0;
}

bool startFromFileName(const char* name, std::int64_t& localSeconds) {
    // REC_yyyy-mm-dd_hh-mm-ss: digits at fixed places.
    static const char pattern[] = "REC_dddd-dd-dd_dd-dd-dd";
    int values[6] = {};
    int field = 0;
    for (int i = 0; pattern[i] != 0; ++i) {
        const char c = name[i];
        if (pattern[i] == 'd') {
            if (c < '0' || c > '9')
                return false;
            values[field] = values[field] * 10 + (c - '0');
        } else if (c != pattern[i]) {
            return false;
        } else if (i > 4) {
            ++field;
        }
    }
    if (!isValidDate(values[0], values[1], values[2]) || values[3] > 23 || values[4] > 59 ||
        values[5] > 59)
        return false;
    localSeconds = daysFromCivil(values[0], values[1], values[2]) * 86400 +
                   std::int64_t(values[3]) * 3600 + std::int64_t(values[4]) * 60 + values[5];
    return true;
}

// Howard Hinnant's days_from_civil.
std::int64_t daysFromCivil(int year, int month, int day) {
    const int y = year - (month <= 2);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = unsigned(y - era * 400);
    const auto doy = unsigned((153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1);
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return std::int64_t(era) * 146097 + std::int64_t(doe) - 719468;
}

bool isValidDate(int year, int month, int day) {
    static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1)
        return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= lengths[month - 1] + (month == 2 && leap);
}

} // namespace tkview
