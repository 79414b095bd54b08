// Batch files: plain text of keyword and value pairs holding a parameter
// record, plus the commands "process" and "stop".
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "ui/params.h"

namespace vesk::batch {

// The text of one batch source, read character by character.  A carriage
// return directly before a newline belongs to the line end and is dropped
// when the stream is built.
class BatchStream {
public:
    explicit BatchStream(std::string text);

    // Next character, or EOF at the end.
    int get();
    // Next character without taking it, or EOF.
    int peek() const;
    bool at_end() const { return pos_ >= text_.size(); }
    std::size_t position() const { return pos_; }
    void seek(std::size_t pos) { pos_ = pos; }
    const std::string& text() const { return text_; }

private:
    std::string text_;
    std::size_t pos_ = 0;
};

// Reads a whole file in binary and builds its stream; false if the file
// cannot be opened or read.
bool load_file(const std::string& path, std::string& text);

// Longest word, and longest path value, a batch text holds.
constexpr std::size_t max_word_length = 255;

// What the reader does at the commands.  `process` runs at each "process"
// and returns when the run has been dealt with (the reader goes on after it);
// `show` runs after each word the reader has handled.
struct BatchActions {
    std::function<void()> process;
    std::function<void()> show;
};

enum class BatchEnd { end_of_text, stop };

// Reads words until the text ends or "stop" is met, setting the record's
// fields.  A value that cannot be read keeps the field's current value.
BatchEnd read_batch(BatchStream& stream, ParamRecord& record, const BatchActions& actions);

// The new value of a "scaled real" field: the semitone form "ST", "ST<n>"
// multiplies `current` by semitone_factor(n); otherwise the number at the
// start of `word` replaces it.  A word that is neither keeps `current`.
double parse_value(double current, const char* word);

// Reads the rest of the current line as a path: blanks and tabs are skipped,
// then at most 255 characters (UTF-8 characters as character_end delimits
// them, so up to 4 bytes each) up to the newline, which is consumed, are put
// into `value`.  A line longer than that loses its 256th character, whole,
// and the rest of the line is left to be read as words.  Returns the number
// of characters taken.
std::size_t read_line_value(BatchStream& stream, std::string& value);

// The fifteen "keyword   value" lines that hold `record`.
std::string write_batch(const ParamRecord& record);

} // namespace vesk::batch
