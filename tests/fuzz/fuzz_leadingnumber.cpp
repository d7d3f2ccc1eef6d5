// The leading-number reading of the settings file on arbitrary text.
//
// Input: the text, as UTF-8 (invalid sequences read as U+FFFD, as a settings
// value would be). Longer inputs are skipped: a number is read from the start
// and the reference's regular expression recurses per character.
//
// Judged against a reference: the longest prefix of the grammar (blanks, an
// optional sign, digits with an optional "." and fraction or a "." and
// fraction, an optional exponent with at least one digit) converted by the C
// library in the C locale; the 16-bit conversion against rounding by hand,
// ties to even; and the number text written for a float against its value.

#include "FuzzTarget.h"
#include "NumberText.h"

#include <QString>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <regex>
#include <string>

namespace {

constexpr std::size_t longestInput = 256;

double referenceLeadingNumber(const std::string& text) {
    static const std::regex number(
        "[ \t\n\r]*([+-]?(?:[0-9]+(?:\\.[0-9]*)?|\\.[0-9]+)(?:[eE][+-]?[0-9]+)?)");
    std::smatch match;
    if (!std::regex_search(text, match, number, std::regex_constants::match_continuous))
        return 0;
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    // Overflow gives HUGE_VAL with its sign, underflow the nearest the
    // double has (a subnormal or zero).
    return strtod_l(match.str(1).c_str(), nullptr, cLocale);
}

std::optional<int> referenceRound(double value) {
    if (!std::isfinite(value) || value < -40000.0 || value > 40000.0)
        return std::nullopt;
    const double below = std::floor(value);
    const double fraction = value - below; // exact for magnitudes this small
    long whole = long(below);
    if (fraction > 0.5 || (fraction == 0.5 && whole % 2 != 0))
        ++whole;
    if (whole < -32768 || whole > 32767)
        return std::nullopt;
    return int(whole);
}

// The sign of a zero is not kept: "-1e-400" reads as 0, as "-0" may.
bool sameDouble(double a, double b) {
    return a == b;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size > longestInput)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const double value = settings::leadingNumber(text);
    const double expected = referenceLeadingNumber(text.toStdString());
    if (!sameDouble(value, expected)) {
        std::fprintf(stderr, "read %.17g, reference %.17g\n", value, expected);
        FUZZ_CHECK(sameDouble(value, expected));
    }

    const std::optional<int16_t> whole = settings::roundToInt16(value);
    const std::optional<int> wholeExpected = referenceRound(value);
    FUZZ_CHECK(whole.has_value() == wholeExpected.has_value());
    if (whole)
        FUZZ_CHECK(int(*whole) == *wholeExpected);

    // A number key written and read back keeps its value to seven
    // significant digits, in any locale.
    const auto stored = static_cast<float>(value);
    if (std::isfinite(stored)) {
        const QString written = settings::numberKeyText(stored);
        FUZZ_CHECK(!written.contains(QLatin1Char(',')) && !written.contains(QLatin1Char(' ')));
        const double reread = settings::leadingNumber(written);
        FUZZ_CHECK(std::fabs(reread - double(stored)) <= std::fabs(double(stored)) * 5e-7);
    }
    return 0;
}
