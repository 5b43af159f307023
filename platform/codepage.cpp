#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <utility>

namespace ys::codepage {
namespace {

class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

// Opening a converter costs far more than most conversions; keep one per direction and thread.
Converter& CachedConverter(const char* from, const char* to) {
    thread_local std::map<std::pair<std::string, std::string>, std::unique_ptr<Converter>> cache;
    auto& slot = cache[{from, to}];
    if (!slot) slot = std::make_unique<Converter>(to, from);
    iconv(slot->get(), nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    return *slot;
}

Result<std::string> Convert(const char* from, const char* to, std::string_view in) {
    if (in.empty()) return std::string();
    Converter& conv = CachedConverter(from, to);
    if (!conv.ok()) {
        return Error{std::string("conversion from ") + from + " to " + to + " is not available"};
    }
    std::string out;
    out.resize(in.size() * 2 + 16);
    // iconv takes a non-const input pointer but does not write through it.
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
        std::size_t rc = iconv(conv.get(), &inPtr, &inLeft, &outPtr, &outLeft);
        if (rc != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) {
            std::size_t used = out.size() - outLeft;
            out.resize(out.size() * 2);
            outPtr = out.data() + used;
            outLeft = out.size() - used;
            continue;
        }
        std::size_t offset = in.size() - inLeft;
        char buf[160];
        std::snprintf(buf, sizeof buf, "%s text holds %s at byte %zu (0x%02X) that %s cannot hold",
                      from, errno == EINVAL ? "an incomplete sequence" : "a sequence", offset,
                      static_cast<unsigned char>(in[offset]), to);
        return Error{buf};
    }
    // Flush any shift state (none for these encodings, but harmless).
    iconv(conv.get(), nullptr, nullptr, &outPtr, &outLeft);
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace

bool IsAscii(std::string_view text) {
    for (unsigned char c : text) {
        if (c >= 0x80) return false;
    }
    return true;
}

Result<std::string> Cp932ToUtf8(std::string_view cp932) {
    if (IsAscii(cp932)) return std::string(cp932);
    return Convert("CP932", "UTF-8", cp932);
}

Result<std::string> Utf8ToCp932(std::string_view utf8) {
    if (IsAscii(utf8)) return std::string(utf8);
    return Convert("UTF-8", "CP932", utf8);
}

Result<std::string> Utf16LeToUtf8(std::string_view utf16le) {
    return Convert("UTF-16LE", "UTF-8", utf16le);
}

Result<std::string> Utf8ToUtf16Le(std::string_view utf8) {
    return Convert("UTF-8", "UTF-16LE", utf8);
}

Result<std::string> Utf16LeToCp932(std::string_view utf16le) {
    return Convert("UTF-16LE", "CP932", utf16le);
}

std::string Cp932ToUtf8Lossy(std::string_view cp932) {
    if (auto whole = Cp932ToUtf8(cp932)) return *whole;
    std::string out;
    std::size_t i = 0;
    while (i < cp932.size()) {
        unsigned char c = static_cast<unsigned char>(cp932[i]);
        bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
        std::size_t len = (lead && i + 1 < cp932.size()) ? 2 : 1;
        if (auto r = Cp932ToUtf8(cp932.substr(i, len))) {
            out += *r;
        } else {
            out += "\xEF\xBF\xBD";
        }
        i += len;
    }
    return out;
}

}  // namespace ys::codepage
