#include "numtext.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace vellork {

namespace {

// The number rules write and read with '.' and put the given separator in its place. Nothing
// here consults a locale: the C library's (which QApplication sets to the user's) and Qt's
// disagree on the separator in some locales, and a ratio written under one and read under the
// other would be lost. An empty separator means '.'.
std::string withSeparator(std::string text, std::string_view decimalSeparator) {
    const std::size_t at = text.find('.');
    if (at != std::string::npos && !decimalSeparator.empty()) text.replace(at, 1, decimalSeparator);
    return text;
}

std::optional<std::string> withPoint(std::string_view text, std::string_view decimalSeparator) {
    std::string plain(text);
    if (decimalSeparator.empty() || decimalSeparator == ".") return plain;
    // Under another separator a point is no part of a number.
    if (plain.find('.') != std::string::npos) return std::nullopt;
    if (const std::size_t at = plain.find(decimalSeparator); at != std::string::npos)
        plain.replace(at, decimalSeparator.size(), ".");
    return plain;
}

// Arithmetic in the program's rules: a division by zero, an overflow or an invalid operation
// gives no value.
std::optional<double> checked(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

// The exact decimal digits of a finite double's 15-significant-digit text, as a sign, a digit
// string and the position of the decimal point within it.
struct Decimal {
    bool negative = false;
    std::string digits;  // no leading zeros unless the value is zero
    int pointAt = 0;     // digits before the decimal point (may be <= 0 or > size)
};

std::optional<Decimal> parseDecimal(std::string_view text) {
    Decimal d;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) d.negative = text[i++] == '-';
    bool seenPoint = false, anyDigit = false;
    int exponent = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            anyDigit = true;
            if (d.digits.empty() && c == '0') {
                if (seenPoint) --d.pointAt;
                continue;
            }
            d.digits.push_back(c);
            if (!seenPoint) ++d.pointAt;
        } else if (c == '.' && !seenPoint) {
            seenPoint = true;
        } else if (c == 'e' || c == 'E') {
            std::string_view digits = text.substr(i + 1);
            if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
            const char* last = digits.data() + digits.size();
            auto [end, ec] = std::from_chars(digits.data(), last, exponent);
            if (ec != std::errc{} || end != last) return std::nullopt;
            break;
        } else {
            return std::nullopt;
        }
    }
    if (!anyDigit) return std::nullopt;
    d.pointAt += exponent;
    return d;
}

}  // namespace

std::string integerText(std::int64_t value) {
    return std::to_string(value);
}

std::string realText(double value, std::string_view decimalSeparator) {
    if (value == 0) return "0";  // also turns -0 into 0
    char buffer[40];
    const double magnitude = std::fabs(value);
    if (magnitude >= 1e15 || magnitude < 1e-4) {
        // 15 significant digits, the mantissa's trailing zeros dropped: 1.5E-05, not
        // 1.50000000000000E-05.
        const auto end =
            std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 14)
                .ptr;
        std::string text(buffer, end);
        const std::size_t e = text.find('e');
        std::size_t cut = e;
        while (text[cut - 1] == '0') --cut;
        if (text[cut - 1] == '.') --cut;
        text = text.substr(0, cut) + 'E' + text.substr(e + 1);
        return withSeparator(std::move(text), decimalSeparator);
    }
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15).ptr;
    return withSeparator(std::string(buffer, end), decimalSeparator);
}

std::optional<double> textReal(std::string_view text, std::string_view decimalSeparator) {
    const std::optional<std::string> plain = withPoint(text, decimalSeparator);
    if (!plain || plain->empty()) return std::nullopt;
    if (plain->find_first_not_of("0123456789+-.eE") != std::string::npos) return std::nullopt;
    const char* first = plain->data();
    const char* last = first + plain->size();
    if (*first == '+' && last - first > 1 && first[1] != '-') ++first;
    double value = 0;
    auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc{} || end != last) return std::nullopt;
    return checked(value);
}

std::optional<double> roundTextTo2(std::string_view text, std::string_view decimalSeparator) {
    if (!textReal(text, decimalSeparator)) return std::nullopt;
    auto decimal = parseDecimal(*withPoint(text, decimalSeparator));
    if (!decimal) return std::nullopt;
    Decimal d = *decimal;

    // Keep the digits down to the hundredths; decide from the ones after them.
    const int keep = d.pointAt + 2;
    if (keep < 0) return 0.0;
    std::string kept = d.digits.substr(0, std::min<std::size_t>(keep, d.digits.size()));
    kept.resize(keep, '0');
    const std::string rest =
        static_cast<std::size_t>(keep) < d.digits.size() ? d.digits.substr(keep) : std::string();
    bool up = false;
    if (!rest.empty()) {
        if (rest[0] > '5') {
            up = true;
        } else if (rest[0] == '5') {
            const bool beyondHalf = rest.find_first_not_of('0', 1) != std::string::npos;
            const bool lastOdd = !kept.empty() && (kept.back() - '0') % 2 == 1;
            up = beyondHalf || lastOdd;
        }
    }
    if (up) {
        int i = static_cast<int>(kept.size()) - 1;
        for (; i >= 0 && kept[i] == '9'; --i) kept[i] = '0';
        if (i >= 0)
            ++kept[i];
        else
            kept.insert(kept.begin(), '1');
    }
    // kept holds the value in hundredths.
    std::string plain = d.negative ? "-" : "";
    plain += kept.empty() ? std::string("0") : kept;
    plain += "e-2";
    double value = 0;
    auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (ec != std::errc{}) return std::nullopt;
    return checked(value == 0 ? 0.0 : value);
}

RatioChain ratioChain(std::string_view sizeBefore, std::string_view sizeAfter,
                      std::string ratioText, std::string_view sep) {
    RatioChain chain{std::move(ratioText), true};
    auto step = [&](std::optional<double> result) {
        if (result)
            chain.text = realText(*result, sep);
        else
            chain.complete = false;
    };
    auto divide = [](std::optional<double> a, std::optional<double> b) -> std::optional<double> {
        if (!a || !b || *b == 0) return std::nullopt;
        return checked(*a / *b);
    };

    step(divide(textReal(sizeBefore, sep), textReal(sizeAfter, sep)));
    step(divide(100.0, textReal(chain.text, sep)));
    const auto saved = textReal(chain.text, sep);
    step(saved ? checked(100.0 - *saved) : std::nullopt);
    step(roundTextTo2(chain.text, sep));
    return chain;
}

}  // namespace vellork
