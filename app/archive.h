// The byte encoding of the user data file: little-endian integers and doubles, and texts with
// the framework's length prefix (one byte, or 0xFF followed by a wider count).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ys {

// Raised when a load runs past the end of the data or meets a malformed text; the loader of the
// user data file turns it into a result.
class ArchiveError : public std::runtime_error {
public:
    enum class Kind { kEndOfFile, kBadText };
    ArchiveError(Kind kind, std::size_t offset, const std::string& what)
        : std::runtime_error(what), kind_(kind), offset_(offset) {}
    Kind kind() const { return kind_; }
    std::size_t offset() const { return offset_; }

private:
    Kind kind_;
    std::size_t offset_;
};

class CArchive {
public:
    enum class Mode { kStore, kLoad };

    // A store archive appends to its own buffer.
    CArchive();
    // A load archive reads from `data`, which must outlive it.
    explicit CArchive(std::string_view data);

    bool IsStoring() const { return mode_ == Mode::kStore; }
    bool IsLoading() const { return mode_ == Mode::kLoad; }

    const std::string& buffer() const { return out_; }
    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return in_.size() - pos_; }

    // Store or load one value, depending on the mode.
    void Int8(std::uint8_t& v);
    void Int16(std::int16_t& v);
    void Int32(std::int32_t& v);
    void Int64(std::int64_t& v);
    void Double(double& v);
    // A text in CP932; the wide (UTF-16LE) form is accepted on loading and converted.
    void Text(std::string& v);

private:
    void Put(const void* p, std::size_t n);
    void Get(void* p, std::size_t n);
    std::uint64_t ReadLength();

    Mode mode_;
    std::string out_;
    std::string_view in_;
    std::size_t pos_ = 0;
};

// The length prefix the writer uses for a text of n bytes.
std::string TextLengthPrefix(std::uint64_t n);

}  // namespace ys
