// The comma tokenizer shared by the readers of the region table and the postal-code file, with
// the field treatment those readers apply. The files in the field are written for exactly these
// rules (a run of commas is one separator; an empty treated field ends the row).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ys {

// Walks `line` from `pos` and returns the next field. A run of commas counts as one separator;
// at the end of the text the field is empty and `finished` is set. `pos` moves past the comma
// that ends the field.
std::string_view NextCsvField(std::string_view line, std::size_t& pos, bool& finished);

// Every double quote becomes a blank (the text is walked as CP932, so a trail byte is never
// taken for a quote), then blanks, tabs, CR and LF are trimmed at both ends.
std::string TreatCsvField(std::string_view field);

// The leading decimal integer of a text as the C runtime reads it: leading white space skipped,
// an optional sign, digits up to the first other character; 0 when there are none. Values beyond
// the int32 range are clamped.
std::int32_t LeadingInt(std::string_view text);

// The leading real number of a text, read independently of the locale (white space skipped,
// conversion stops at the first character that does not fit); 0 when there is none or when it
// is out of range.
double LeadingReal(std::string_view text);

// True for a CP932 lead byte (the first byte of a double-byte character).
constexpr bool IsCp932LeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Splits a text into lines the way a line reader with a buffer of `bufferSize` bytes does: each
// piece ends after its LF or after bufferSize - 1 bytes, whichever comes first.
class LineReader {
public:
    LineReader(std::string_view text, std::size_t bufferSize) : text_(text), max_(bufferSize - 1) {}
    // False at the end of the text.
    bool Next(std::string_view& line);
    std::size_t position() const { return pos_; }
    void Seek(std::size_t pos) { pos_ = pos; }

private:
    std::string_view text_;
    std::size_t max_;
    std::size_t pos_ = 0;
};

}  // namespace ys
