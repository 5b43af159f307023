#include "app/settings/postal_lookup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "app/settings/csv_field.h"

namespace ys {
namespace {

// "以下に掲載がない場合" in CP932: the town of a municipality's catch-all row.
constexpr std::string_view kCatchAllTown =
    "\x88\xc8\x89\xba\x82\xc9\x8c\x66\x8d\xda\x82\xaa\x82\xc8\x82\xa2\x8f\xea\x8d\x87";

constexpr std::size_t kFirstSlot = 2;
constexpr std::size_t kLastSlot = 19;

// Applies the row rules to one line; appends its address when field 2 is the key.
void MatchLine(std::string_view line, std::string_view key, std::vector<std::string>& out) {
    std::size_t pos = 0;
    bool finished = false;
    NextCsvField(line, pos, finished);  // field 0
    NextCsvField(line, pos, finished);  // field 1
    std::string_view raw = NextCsvField(line, pos, finished);
    if (raw != key) return;
    std::array<std::string, kLastSlot + 1> slot;
    for (std::size_t k = kFirstSlot;; ++k) {
        std::string treated = TreatCsvField(raw);
        const bool ends = treated.empty();
        if (k <= kLastSlot) slot[k] = std::move(treated);
        if (ends || finished) break;
        raw = NextCsvField(line, pos, finished);
    }
    std::string address = slot[6] + " " + slot[7];
    if (slot[8] != kCatchAllTown) address += " " + slot[8];
    out.push_back(std::move(address));
}

}  // namespace

std::vector<std::string> SearchPostalCodeText(std::string_view text, std::string_view code) {
    std::vector<std::string> results;
    const std::string key = "\"" + std::string(code) + "\"";
    // Only lines that hold the key anywhere can match; find those fast, then apply the row rules
    // to the line pieces a line reader would give for that line.
    std::size_t from = 0;
    while (from < text.size() && results.size() < kMaxPostalResults) {
        const void* hit = ::memmem(text.data() + from, text.size() - from, key.data(), key.size());
        if (hit == nullptr) break;
        const std::size_t at =
            static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
        const std::size_t prevNl = text.rfind('\n', at);
        const std::size_t lineStart = prevNl == std::string_view::npos ? 0 : prevNl + 1;
        const std::size_t nl = text.find('\n', at);
        const std::size_t lineEnd = nl == std::string_view::npos ? text.size() : nl + 1;
        LineReader pieces(text.substr(lineStart, lineEnd - lineStart), kPostalLineBuffer);
        std::string_view line;
        while (results.size() < kMaxPostalResults && pieces.Next(line)) {
            MatchLine(line, key, results);
        }
        from = lineEnd;
    }
    return results;
}

Result<std::vector<std::string>> SearchPostalCode(const std::string& path, std::string_view code) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Error{std::strerror(errno)};
    std::string text;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0) text.reserve(static_cast<std::size_t>(st.st_size));
    char buf[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            return Error{std::strerror(err)};
        }
        if (n == 0) break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return SearchPostalCodeText(text, code);
}

}  // namespace ys
