#include "app/archive.h"

#include <bit>
#include <cstring>

#include "platform/codepage.h"

namespace ys {

static_assert(std::endian::native == std::endian::little, "the file layout is little-endian");

CArchive::CArchive() : mode_(Mode::kStore) {}

CArchive::CArchive(std::string_view data) : mode_(Mode::kLoad), in_(data) {}

void CArchive::Put(const void* p, std::size_t n) {
    out_.append(static_cast<const char*>(p), n);
}

void CArchive::Get(void* p, std::size_t n) {
    if (n > remaining()) {
        throw ArchiveError(ArchiveError::Kind::kEndOfFile, pos_,
                           "unexpected end of file: reading stopped at byte " +
                               std::to_string(pos_) + " of " + std::to_string(in_.size()));
    }
    std::memcpy(p, in_.data() + pos_, n);
    pos_ += n;
}

void CArchive::Int8(std::uint8_t& v) {
    IsStoring() ? Put(&v, 1) : Get(&v, 1);
}
void CArchive::Int16(std::int16_t& v) {
    IsStoring() ? Put(&v, 2) : Get(&v, 2);
}
void CArchive::Int32(std::int32_t& v) {
    IsStoring() ? Put(&v, 4) : Get(&v, 4);
}
void CArchive::Int64(std::int64_t& v) {
    IsStoring() ? Put(&v, 8) : Get(&v, 8);
}
void CArchive::Double(double& v) {
    IsStoring() ? Put(&v, 8) : Get(&v, 8);
}

std::string TextLengthPrefix(std::uint64_t n) {
    std::string p;
    auto add = [&p](std::uint64_t v, std::size_t bytes) {
        for (std::size_t i = 0; i < bytes; ++i) p += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    if (n < 0xFF) {
        add(n, 1);
    } else if (n < 0xFFFE) {
        add(0xFF, 1);
        add(n, 2);
    } else if (n < 0xFFFFFFFFull) {
        add(0xFF, 1);
        add(0xFFFF, 2);
        add(n, 4);
    } else {
        add(0xFF, 1);
        add(0xFFFF, 2);
        add(0xFFFFFFFFull, 4);
        add(n, 8);
    }
    return p;
}

// Reads the count of a length prefix after its first byte was found to be 0xFF.
std::uint64_t CArchive::ReadLength() {
    std::uint8_t b = 0;
    Int8(b);
    if (b < 0xFF) return b;
    std::uint16_t w = 0;
    Get(&w, 2);
    if (w < 0xFFFE) return w;
    if (w == 0xFFFE) return ~std::uint64_t{0};  // marker of the wide form, handled by Text()
    std::uint32_t d = 0;
    Get(&d, 4);
    if (d < 0xFFFFFFFFu) return d;
    std::uint64_t q = 0;
    Get(&q, 8);
    return q;
}

void CArchive::Text(std::string& v) {
    if (IsStoring()) {
        out_ += TextLengthPrefix(v.size());
        out_ += v;
        return;
    }
    const std::size_t start = pos_;
    std::uint64_t n = ReadLength();
    bool wide = false;
    if (n == ~std::uint64_t{0}) {
        wide = true;
        n = ReadLength();
        if (n == ~std::uint64_t{0}) {
            throw ArchiveError(ArchiveError::Kind::kBadText, start,
                               "malformed text at byte " + std::to_string(start));
        }
    }
    // A count that claims more than the file holds marks a corrupt file; never allocate for it.
    const std::uint64_t bytes = wide ? n * 2 : n;
    if ((wide && n > remaining() / 2) || bytes > remaining()) {
        throw ArchiveError(ArchiveError::Kind::kEndOfFile, start,
                           "text at byte " + std::to_string(start) + " claims " +
                               std::to_string(bytes) + " bytes, past the end of the file");
    }
    std::string_view raw = in_.substr(pos_, static_cast<std::size_t>(bytes));
    pos_ += static_cast<std::size_t>(bytes);
    if (!wide) {
        v.assign(raw);
        return;
    }
    // The framework converts wide texts with the default character for what CP932 cannot hold.
    std::string out;
    for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
        std::size_t len = 2;
        unsigned unit =
            static_cast<unsigned char>(raw[i]) | (static_cast<unsigned char>(raw[i + 1]) << 8);
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < raw.size()) {
            const unsigned next = static_cast<unsigned char>(raw[i + 2]) |
                                  (static_cast<unsigned char>(raw[i + 3]) << 8);
            // Only a low surrogate completes the pair; any other unit is a character of its own.
            if (next >= 0xDC00 && next < 0xE000) len = 4;
        }
        auto r = codepage::Utf16LeToCp932(raw.substr(i, len));
        out += r ? *r : std::string("?");
        i += len - 2;
    }
    v = std::move(out);
}

}  // namespace ys
