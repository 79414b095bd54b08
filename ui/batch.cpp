#include "ui/batch.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <system_error>

// Everything here classifies characters and converts numbers by hand or with
// <charconv>: the front-end sets the process locale, and a batch file written
// under one locale must read the same under any other (the decimal point is
// always '.').  Characters are classified as unsigned char, so bytes >= 0x80
// are ordinary word characters and never index a table with a negative value.

namespace vesk::batch {

namespace {

// The C locale's white space: what separates words.
bool is_space(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// What a path skips before its first character: the path stays on its line.
bool is_blank(int c)
{
    return c == ' ' || c == '\t';
}

bool is_digit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

bool is_xdigit(unsigned char c)
{
    return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int digit_value(unsigned char c)
{
    if (is_digit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

unsigned char lower(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

void skip_space(BatchStream& stream)
{
    while (is_space(stream.peek()))
        stream.get();
}

// One word: white space is skipped, then up to max_word_length characters
// that are not white space are taken.  A longer run is left for the next
// call, so it reads as several words.  The white space that ends a word is
// not consumed: a path value starts right after its keyword, on its line.
// False when the text ends before a word begins.
bool read_word(BatchStream& stream, std::string& word)
{
    skip_space(stream);
    word.clear();
    while (word.size() < max_word_length) {
        const int c = stream.peek();
        if (c == EOF || is_space(c))
            break;
        word.push_back(static_cast<char>(stream.get()));
    }
    return !word.empty();
}

// from_chars leaves its output untouched when the number is out of the
// double range; the C conversions give an infinity or zero instead.  Which of
// the two is decided from the order of magnitude of the matched text
// [begin, end) (no sign; decimal digits with an 'e' exponent, or hexadecimal
// digits after "0x" with a binary 'p' exponent).
double out_of_range_value(const char* begin, const char* end, bool hex)
{
    const long long bits_per_digit = hex ? 4 : 1;
    const unsigned char exponent_mark = hex ? 'p' : 'e';
    bool seen_point = false;
    bool seen_nonzero = false;
    long long integer_digits = 0;  // from the first non-zero digit to the point
    long long fraction_zeros = 0;  // zeros between the point and the first non-zero digit
    const char* p = begin;
    for (; p != end; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '.') {
            seen_point = true;
            continue;
        }
        if (!(hex ? is_xdigit(c) : is_digit(c)))
            break;
        if (!seen_nonzero) {
            if (c != '0') {
                seen_nonzero = true;
                if (!seen_point)
                    integer_digits = 1;
            } else if (seen_point) {
                ++fraction_zeros;
            }
        } else if (!seen_point) {
            ++integer_digits;
        }
    }
    long long magnitude =
        (integer_digits > 0 ? integer_digits - 1 : -(fraction_zeros + 1)) * bits_per_digit;
    if (p != end && lower(static_cast<unsigned char>(*p)) == exponent_mark) {
        ++p;
        bool negative = false;
        if (p != end && (*p == '+' || *p == '-'))
            negative = *p++ == '-';
        long long exponent = 0;
        constexpr long long exponent_cap = 1'000'000'000'000LL;
        for (; p != end && is_digit(static_cast<unsigned char>(*p)); ++p)
            if (exponent < exponent_cap)
                exponent = exponent * 10 + (*p - '0');
        magnitude += negative ? -exponent : exponent;
    }
    return magnitude > 0 ? HUGE_VAL : 0.0;
}

// A floating-point number at the start of [p, end) in the syntax of the C
// library's "%lf" (no white space skipped here): an optional sign, then a
// decimal number with optional exponent, a hexadecimal number after "0x",
// or inf, infinity, nan, nan(...) in any case.  Only the longest prefix that
// is a complete number is taken: "1e+x" reads as 1 and "e+x" is left over
// (the C library would consume "1e+" and then give up).  Returns the end of
// the number, or nullptr when there is none.
const char* scan_real(const char* p, const char* end, double& out)
{
    const char* q = p;
    bool negative = false;
    if (q != end && (*q == '+' || *q == '-'))
        negative = *q++ == '-';
    // from_chars takes a '-' of its own; a second sign is no number.
    if (q == end || *q == '+' || *q == '-')
        return nullptr;

    double value = 0.0;
    const char* stop = nullptr;
    if (end - q >= 2 && q[0] == '0' && (q[1] == 'x' || q[1] == 'X')) {
        const char* h = q + 2;
        const bool has_digits =
            h != end && (is_xdigit(static_cast<unsigned char>(*h)) ||
                         (*h == '.' && h + 1 != end && is_xdigit(static_cast<unsigned char>(h[1]))));
        if (has_digits) {
            const auto r = std::from_chars(h, end, value, std::chars_format::hex);
            if (r.ec == std::errc::result_out_of_range)
                value = out_of_range_value(h, r.ptr, true);
            if (r.ec == std::errc{} || r.ec == std::errc::result_out_of_range)
                stop = r.ptr;
        }
        // "0x" without hexadecimal digits is the number 0 followed by 'x',
        // which the decimal reading below finds.
    }
    if (stop == nullptr) {
        const auto r = std::from_chars(q, end, value, std::chars_format::general);
        if (r.ec == std::errc::result_out_of_range)
            value = out_of_range_value(q, r.ptr, false);
        else if (r.ec != std::errc{})
            return nullptr;
        stop = r.ptr;
    }
    out = negative ? -value : value;
    return stop;
}

// An integer at the start of a NUL-terminated text in the syntax of the C
// library's "%i": white space, an optional sign, then hexadecimal after
// "0x", octal after a leading 0, or decimal; the characters after the
// digits are ignored.  A value beyond the int range is held at its end.
bool scan_int(const char* p, int& out)
{
    while (is_space(static_cast<unsigned char>(*p)))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    int base = 10;
    if (*p == '0') {
        if ((p[1] == 'x' || p[1] == 'X') && is_xdigit(static_cast<unsigned char>(p[2]))) {
            base = 16;
            p += 2;
        } else {
            base = 8; // the 0 itself is an octal digit, so "0" and "0x" read 0
        }
    }
    if (digit_value(static_cast<unsigned char>(*p)) >= base)
        return false;
    constexpr long long cap = static_cast<long long>(INT_MAX) + 1; // |INT_MIN|
    long long magnitude = 0;
    for (int d; (d = digit_value(static_cast<unsigned char>(*p))) < base; ++p)
        if (magnitude < cap)
            magnitude = magnitude * base + d;
    if (magnitude > cap)
        magnitude = cap;
    const long long value = negative ? -magnitude : magnitude;
    out = static_cast<int>(value > INT_MAX ? INT_MAX : value);
    return true;
}

// The "%u" reading of an unsigned field: white space (newlines too), an
// optional sign, decimal digits.  The value is taken modulo 2^32 however
// long it is, and a minus sign negates it modulo 2^32, as the C conversion
// does for a 32-bit unsigned.  Without a digit nothing but the white space
// is consumed, so the text stays as the next word, and false is returned.
bool read_unsigned(BatchStream& stream, std::uint32_t& out)
{
    skip_space(stream);
    const std::string& text = stream.text();
    std::size_t i = stream.position();
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i >= text.size() || !is_digit(static_cast<unsigned char>(text[i])))
        return false;
    std::uint32_t value = 0;
    for (; i < text.size() && is_digit(static_cast<unsigned char>(text[i])); ++i)
        value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
    out = negative ? 0u - value : value;
    stream.seek(i);
    return true;
}

// The "%lf" reading of a plain real, straight from the text: white space
// (newlines too), then the number.  Without a number nothing but the white
// space is consumed and false is returned.
bool read_plain_real(BatchStream& stream, double& out)
{
    skip_space(stream);
    const std::string& text = stream.text();
    const char* begin = text.data() + stream.position();
    const char* end = text.data() + text.size();
    const char* stop = scan_real(begin, end, out);
    if (stop == nullptr)
        return false;
    stream.seek(static_cast<std::size_t>(stop - text.data()));
    return true;
}

const ParamInfo* find_keyword(const std::string& word)
{
    // The whole word must match, embedded NUL bytes included: "fssim\0" is
    // no keyword.
    for (const ParamInfo& p : param_table())
        if (std::string_view(word) == p.keyword)
            return &p;
    return nullptr;
}

void read_value(BatchStream& stream, ParamRecord& record, const ParamInfo& p, const std::string& keyword)
{
    std::string value;
    switch (p.kind) {
    case ParamKind::path: {
        read_line_value(stream, value);
        // A path ends at a NUL byte, as any file name does.
        record.*std::get<std::string ParamRecord::*>(p.member) = value.c_str();
        break;
    }
    case ParamKind::unsigned_int:
        read_unsigned(stream, record.*std::get<std::uint32_t ParamRecord::*>(p.member)); // keeps the value on failure
        break;
    case ParamKind::flag:
        record.*std::get<int ParamRecord::*>(p.member) = (read_word(stream, value) && value == "TRUE") ? 1 : 0;
        break;
    case ParamKind::plain_real: {
        double number;
        // An unreadable value, and one that is not finite, keep the field.
        if (read_plain_real(stream, number) && std::isfinite(number))
            record.*std::get<double ParamRecord::*>(p.member) = number;
        break;
    }
    case ParamKind::scaled_real: {
        // At the end of the text the keyword itself is the word; being no
        // number, it keeps the value.
        double& field = record.*std::get<double ParamRecord::*>(p.member);
        const double number = parse_value(field, read_word(stream, value) ? value.c_str() : keyword.c_str());
        if (std::isfinite(number))
            field = number;
        break;
    }
    }
}

// "%.6le" without the C library, so that the process locale cannot turn the
// point into a comma.  to_chars gives the same digits and rounding.  The
// exponent is written with a sign and at least three digits (4.800000e+004),
// the form batch files have always had, which every reader of "%lf" takes.
// inf and nan come out as "inf", "-inf", "nan", "-nan".
std::string format_real(double v)
{
    char buffer[64];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::scientific, 6);
    std::string s(buffer, r.ptr);
    const std::size_t e = s.find('e');
    if (e == std::string::npos)
        return s;
    std::string mantissa = s.substr(0, e);
    std::string exponent = s.substr(e + 1);
    char sign = '+';
    if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
        sign = exponent[0];
        exponent.erase(0, 1);
    }
    while (exponent.size() < 3)
        exponent.insert(0, 1, '0');
    return mantissa + 'e' + sign + exponent;
}

} // namespace

BatchStream::BatchStream(std::string text)
{
    // Text-mode reading: a line may end in "\r\n"; the carriage return
    // belongs to the line end, never to a path or word.  A carriage return
    // elsewhere stays (and is white space between words).
    text_.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            text_.push_back(text[i]);
}

int BatchStream::get()
{
    if (pos_ >= text_.size())
        return EOF;
    return static_cast<unsigned char>(text_[pos_++]);
}

int BatchStream::peek() const
{
    if (pos_ >= text_.size())
        return EOF;
    return static_cast<unsigned char>(text_[pos_]);
}

bool load_file(const std::string& path, std::string& text)
{
    // Binary, so that the stream sees every byte; the line ends are dealt
    // with when the stream is built.  C stdio rather than iostreams: a read
    // error (such as a directory) is reported, not thrown.
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    std::string data;
    char chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        data.append(chunk, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed)
        return false;
    text = std::move(data);
    return true;
}

std::size_t read_line_value(BatchStream& stream, std::string& value)
{
    while (is_blank(stream.peek()))
        stream.get();
    const std::string& text = stream.text();
    std::size_t pos = stream.position();
    std::size_t n = 0;
    value.clear();
    // Characters, not bytes, are counted, as the window's edit counts them:
    // a path of 200 two-byte characters is whole, and a cut never falls
    // inside a character.
    while (n < max_word_length && pos < text.size() && text[pos] != '\n') {
        const std::size_t end = character_end(text, pos);
        value.append(text, pos, end - pos);
        pos = end;
        ++n;
    }
    // The next character goes too: the newline that ends the line, or, on a
    // full value, the 256th character of a longer line, whose remainder is
    // then read as words.
    if (pos < text.size())
        pos = text[pos] == '\n' ? pos + 1 : character_end(text, pos);
    stream.seek(pos);
    return n;
}

double parse_value(double current, const char* word)
{
    if (word[0] == 'S' && word[1] == 'T') {
        int n = 1;
        if (word[2] != '\0' && !scan_int(word + 2, n))
            return current; // "STx": no step count, nothing changes
        return current * semitone_factor(n);
    }
    const char* p = word;
    while (is_space(static_cast<unsigned char>(*p)))
        ++p;
    double value;
    if (scan_real(p, p + std::strlen(p), value) == nullptr)
        return current;
    return value;
}

BatchEnd read_batch(BatchStream& stream, ParamRecord& record, const BatchActions& actions)
{
    std::string word;
    while (read_word(stream, word)) {
        if (word == "stop")
            return BatchEnd::stop;
        if (word == "process") {
            if (actions.process)
                actions.process();
        } else if (const ParamInfo* k = find_keyword(word)) {
            read_value(stream, record, *k, word);
        }
        // Any other word is skipped; there is no comment syntax.
        if (actions.show)
            actions.show();
    }
    return BatchEnd::end_of_text;
}

std::string write_batch(const ParamRecord& record)
{
    std::string out;
    for (const ParamInfo& p : param_table()) {
        out.append(p.keyword);
        out.append("   ");
        switch (p.kind) {
        case ParamKind::path:
            out.append(record.*std::get<std::string ParamRecord::*>(p.member));
            break;
        case ParamKind::unsigned_int: {
            char buffer[16];
            const auto r =
                std::to_chars(buffer, buffer + sizeof buffer, record.*std::get<std::uint32_t ParamRecord::*>(p.member));
            out.append(buffer, r.ptr);
            break;
        }
        case ParamKind::flag:
            out.append(record.*std::get<int ParamRecord::*>(p.member) == 1 ? "TRUE" : "FALSE");
            break;
        case ParamKind::plain_real:
        case ParamKind::scaled_real:
            out.append(format_real(record.*std::get<double ParamRecord::*>(p.member)));
            break;
        }
        out.push_back('\n');
    }
    return out;
}

} // namespace vesk::batch
