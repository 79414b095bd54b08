#include "ui/exchange.h"

#include <charconv>
#include <cmath>
#include <system_error>
#include <type_traits>
#include <variant>

#include "ui/control_ids.h"

namespace vesk {

namespace {

FieldKind field_kind(ParamKind kind)
{
    switch (kind) {
    case ParamKind::path:
        return FieldKind::path;
    case ParamKind::unsigned_int:
        return FieldKind::unsigned_number;
    case ParamKind::flag:
        return FieldKind::flag;
    case ParamKind::plain_real:
    case ParamKind::scaled_real:
        break;
    }
    return FieldKind::real;
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim_blanks(std::string_view text)
{
    while (!text.empty() && is_blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Takes one control into its field; false when its text is refused.
bool take_one(const ExchangeControls& controls, int control, ParamRecord& record,
              const ParamMember& member)
{
    return std::visit(
        [&](auto m) -> bool {
            using Member = decltype(m);
            if constexpr (std::is_same_v<Member, std::string ParamRecord::*>) {
                std::string text = controls.text(control);
                if (!path_fits(text))
                    return false;
                record.*m = std::move(text);
            } else if constexpr (std::is_same_v<Member, uint32_t ParamRecord::*>) {
                const auto value = parse_unsigned(controls.text(control));
                if (!value)
                    return false;
                record.*m = *value;
            } else if constexpr (std::is_same_v<Member, double ParamRecord::*>) {
                const auto value = parse_real(controls.text(control));
                if (!value)
                    return false;
                record.*m = *value;
            } else {
                record.*m = controls.checked(control) ? 1 : 0;
            }
            return true;
        },
        member);
}

void show_one(const ParamRecord& record, ExchangeControls& controls, int control,
              const ParamMember& member)
{
    std::visit(
        [&](auto m) {
            using Member = decltype(m);
            if constexpr (std::is_same_v<Member, std::string ParamRecord::*>)
                controls.set_text(control, record.*m);
            else if constexpr (std::is_same_v<Member, uint32_t ParamRecord::*>)
                controls.set_text(control, format_unsigned(record.*m));
            else if constexpr (std::is_same_v<Member, double ParamRecord::*>)
                controls.set_text(control, format_real(record.*m));
            else
                controls.set_checked(control, record.*m == 1);
        },
        member);
}

} // namespace

const std::array<ExchangeField, 15>& exchange_fields()
{
    static const std::array<ExchangeField, 15> fields = [] {
        std::array<ExchangeField, 15> f{};
        for (std::size_t i = 0; i < f.size(); ++i)
            f[i] = {param_table()[i].edit, field_kind(param_table()[i].kind)};
        return f;
    }();
    return fields;
}

std::optional<TakeFailure> take(const ExchangeControls& controls, ParamRecord& record)
{
    for (const ParamInfo& p : param_table()) {
        if (!take_one(controls, p.edit, record, p.member))
            return TakeFailure{p.edit, field_kind(p.kind)};
    }
    return std::nullopt;
}

void show(const ParamRecord& record, ExchangeControls& controls)
{
    for (const ParamInfo& p : param_table())
        show_one(record, controls, p.edit, p.member);
}

std::string format_real(double value)
{
    // std::to_chars is defined as printf's "%.*g" in the "C" locale, so the
    // text is the same whatever locale the desktop has set.
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    return std::string(buffer, result.ptr);
}

std::string format_unsigned(uint32_t value)
{
    char buffer[16];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::optional<double> parse_real(std::string_view text)
{
    text = trim_blanks(text);
    // from_chars takes no plus sign; a second sign after it stays refused.
    if (!text.empty() && text.front() == '+' && (text.size() == 1 || text[1] != '-'))
        text.remove_prefix(1);
    if (text.empty())
        return std::nullopt;
    double value = 0.0;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    // Infinity and NaN are refused too: no field means anything by them, and
    // they would pass unnoticed through comparisons that check a range.
    if (ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<uint32_t> parse_unsigned(std::string_view text)
{
    text = trim_blanks(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    // from_chars would take a minus sign for a signed type only, and no
    // blanks or second sign: digits are all that is left to accept.
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool path_fits(std::string_view text)
{
    return character_count(text) <= max_path_length;
}

std::size_t character_count(std::string_view text)
{
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); i = character_end(text, i))
        ++count;
    return count;
}

} // namespace vesk
