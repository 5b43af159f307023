// INI profile files: the read and write semantics that the system's support and exchange files
// were made for (first match wins, case-insensitive names, in-place writes keeping other lines).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace ys::profile {

enum class Encoding { kCp932, kUtf8Bom, kUtf16LeBom };

// An INI file in memory. Lines are kept as their original bytes, so that a write changes only the
// line it touches. Names and values at this interface are UTF-8.
class Document {
public:
    Document() = default;

    // Decodes file bytes: UTF-16LE or UTF-8 when they start with that byte-order mark, else CP932.
    static Document Parse(std::string_view bytes);
    // A missing or unreadable file gives an empty document whose `exists()` is false.
    static Document Load(const std::string& path);

    bool exists() const { return exists_; }
    Encoding encoding() const { return encoding_; }

    // The value of the first matching key in the first matching section, blanks trimmed and one
    // pair of enclosing quotes removed; nullopt when the section or key is missing.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;

    // Replaces the first matching key's line, else appends the key at the end of its section,
    // else appends the section. Fails when the value cannot be stored in the file's encoding.
    Status Set(std::string_view section, std::string_view key, std::string_view value);

    // The file bytes: untouched lines exactly as read; a new document is CP932 with CRLF.
    std::string Serialize() const;
    // Writes atomically (temporary file, sync, rename).
    Status Save(const std::string& path) const;

private:
    struct Line {
        std::string raw;   // bytes in the file's encoding, without the line end
        std::string text;  // the same line as UTF-8 (lossy for bytes that do not decode)
        std::string eol;   // "\r\n", "\n" or "" (last line without a line end)
    };
    struct SectionRange {
        std::size_t head;  // index of the "[...]" line
        std::size_t end;   // one past the last line of the section
    };

    std::optional<SectionRange> FindSection(std::string_view section) const;
    std::optional<std::size_t> FindKeyLine(const SectionRange& range, std::string_view key) const;
    Result<Line> MakeLine(std::string text) const;
    std::string DefaultEol() const;
    // Gives the last line a line end without changing how the line reads.
    void EndLine(Line& line) const;

    std::vector<Line> lines_;
    // A UTF-16 file of odd length keeps its last byte here, after every line, so that lines
    // written later stay aligned and the byte itself is not lost.
    std::string oddTail_;
    Encoding encoding_ = Encoding::kCp932;
    bool exists_ = false;
};

// The Windows-style calls, UTF-8 at the interface. `bufferChars` is the caller's buffer size in
// characters: the result holds at most bufferChars - 1 characters.
std::string GetString(std::string_view section, std::string_view key, std::string_view def,
                      std::size_t bufferChars, const std::string& path);
int GetInt(std::string_view section, std::string_view key, int def, const std::string& path);
Status WriteString(std::string_view section, std::string_view key, std::string_view value,
                   const std::string& path);

// The same with CP932 byte strings at the interface; `bufferBytes` counts bytes and a cut never
// splits a double-byte character.
std::string GetStringA(std::string_view section, std::string_view key, std::string_view def,
                       std::size_t bufferBytes, const std::string& path);
int GetIntA(std::string_view section, std::string_view key, int def, const std::string& path);
Status WriteStringA(std::string_view section, std::string_view key, std::string_view value,
                    const std::string& path);

// The leading decimal integer of a profile value (optional sign, blanks skipped); 0 when none.
int ParseProfileInt(std::string_view value);

// Helpers shared with the readers of the support files.
std::string_view TrimBlanks(std::string_view s);
bool EqualsAsciiNoCase(std::string_view a, std::string_view b);

}  // namespace ys::profile
