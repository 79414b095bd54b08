// The exchange between the main window's controls and the parameter record:
// `take` parses the controls' texts and check states into the record, `show`
// writes the record back into them.  It speaks of controls by identifier
// only, so any window that can read and write a text and a check state by
// identifier can use it, and it can be tested without one.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ui/params.h"

namespace vesk {

// The window's side of the exchange.
class ExchangeControls {
public:
    virtual ~ExchangeControls() = default;
    virtual std::string text(int control) const = 0;
    virtual void set_text(int control, const std::string& text) = 0;
    virtual bool checked(int control) const = 0;
    virtual void set_checked(int control, bool on) = 0;
};

// How a field's control holds its value.
enum class FieldKind {
    path,     // edit text, at most max_path_length characters
    unsigned_number, // edit text, a decimal integer
    real,     // edit text, a floating-point number
    flag,     // check box
};

struct ExchangeField {
    int control;
    FieldKind kind;
};

// The fifteen fields' controls in exchange order.  A text that does not
// parse stops `take` there, so the order decides which fields a bad text
// leaves untouched.
const std::array<ExchangeField, 15>& exchange_fields();

// The control whose text `take` refused, and why.
struct TakeFailure {
    int control;
    FieldKind kind;
};

// Controls to record, in exchange order.  Stops at the first text that does
// not parse: the fields before it have been updated, that field and the ones
// after it keep their values.
std::optional<TakeFailure> take(const ExchangeControls& controls, ParamRecord& record);

// Record to controls: paths as they are, unsigned fields in decimal, doubles
// with 15 significant digits, check boxes checked when the field is 1.
void show(const ParamRecord& record, ExchangeControls& controls);

// A double as C's "%.15g" writes it in the "C" locale, whatever the
// process's locale: 15 significant digits, trailing zeros dropped, exponent
// form when the decimal exponent is below -4 or at least 15.
std::string format_real(double value);

// Decimal digits, as "%u" writes them.
std::string format_unsigned(uint32_t value);

// A finite floating-point number with optional blanks around it ("C" locale
// syntax: a point, never a comma; an optional sign and exponent).
std::optional<double> parse_real(std::string_view text);

// A decimal integer from 0 to 4294967295 with optional blanks around it and
// an optional "+".
std::optional<uint32_t> parse_unsigned(std::string_view text);

// Number of characters (not bytes) in a UTF-8 text, as character_end
// delimits them.
std::size_t character_count(std::string_view text);

// Whether a path text fits its field: at most max_path_length characters.
// The window's edit asks this too, so that it refuses exactly what `take`
// would refuse.
bool path_fits(std::string_view text);

} // namespace vesk
