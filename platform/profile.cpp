#include "platform/profile.h"

#include "platform/atomic_file.h"
#include "platform/codepage.h"

namespace ys::profile {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// The name inside a "[...]" head, or nullopt when the line is not a section head.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = TrimBlanks(line);
    if (line.empty() || line.front() != '[') return std::nullopt;
    line.remove_prefix(1);
    auto close = line.find(']');
    if (close != std::string_view::npos) line = line.substr(0, close);
    return TrimBlanks(line);
}

struct KeyValue {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyValue> SplitKeyLine(std::string_view line) {
    std::string_view t = TrimBlanks(line);
    if (t.empty() || t.front() == ';') return std::nullopt;
    auto eq = t.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return KeyValue{TrimBlanks(t.substr(0, eq)), TrimBlanks(t.substr(eq + 1))};
}

std::string_view Unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

std::string DecodeLine(std::string_view raw, Encoding enc) {
    switch (enc) {
        case Encoding::kCp932:
            return codepage::Cp932ToUtf8Lossy(raw);
        case Encoding::kUtf8Bom:
            return std::string(raw);
        case Encoding::kUtf16LeBom: {
            auto r = codepage::Utf16LeToUtf8(raw);
            return r ? *r : std::string();
        }
    }
    return {};
}

Result<std::string> EncodeLine(std::string_view utf8, Encoding enc) {
    switch (enc) {
        case Encoding::kCp932:
            return codepage::Utf8ToCp932(utf8);
        case Encoding::kUtf8Bom:
            return std::string(utf8);
        case Encoding::kUtf16LeBom:
            return codepage::Utf8ToUtf16Le(utf8);
    }
    return Error{"unknown encoding"};
}

// Cuts UTF-8 text to at most `maxChars` code points.
std::string CutChars(std::string_view s, std::size_t maxChars) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            if (chars == maxChars) return std::string(s.substr(0, i));
            ++chars;
        }
    }
    return std::string(s);
}

// Cuts CP932 text to at most `maxBytes` bytes without splitting a double-byte character.
std::string CutCp932(std::string_view s, std::size_t maxBytes) {
    std::size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t len = ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) ? 2 : 1;
        if (i + len > maxBytes) break;
        i += len;
    }
    return std::string(s.substr(0, std::min(i, s.size())));
}

std::string ToUtf8(std::string_view cp932) {
    return codepage::Cp932ToUtf8Lossy(cp932);
}

}  // namespace

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool EqualsAsciiNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    }
    return true;
}

Document Document::Parse(std::string_view bytes) {
    Document doc;
    doc.exists_ = true;
    if (bytes.substr(0, 2) == kUtf16LeBom) {
        doc.encoding_ = Encoding::kUtf16LeBom;
        bytes.remove_prefix(2);
    } else if (bytes.substr(0, 3) == kUtf8Bom) {
        doc.encoding_ = Encoding::kUtf8Bom;
        bytes.remove_prefix(3);
    }
    const bool wide = doc.encoding_ == Encoding::kUtf16LeBom;
    if (wide && bytes.size() % 2 != 0) {
        doc.oddTail_.assign(bytes.substr(bytes.size() - 1));
        bytes.remove_suffix(1);
    }
    const std::size_t unit = wide ? 2 : 1;
    auto isUnit = [&](std::size_t i, char c) {
        return bytes[i] == c && (!wide || (i + 1 < bytes.size() && bytes[i + 1] == '\0'));
    };
    std::size_t start = 0;
    std::size_t i = 0;
    while (i + unit <= bytes.size()) {
        if (isUnit(i, '\n')) {
            std::size_t end = i;
            std::string eol = "\n";
            if (end >= start + unit && isUnit(end - unit, '\r')) {
                end -= unit;
                eol = "\r\n";
            }
            Line line;
            line.raw.assign(bytes.substr(start, end - start));
            line.text = DecodeLine(line.raw, doc.encoding_);
            line.eol = eol;
            doc.lines_.push_back(std::move(line));
            start = i + unit;
        }
        i += unit;
    }
    if (start < bytes.size()) {
        Line line;
        line.raw.assign(bytes.substr(start));
        line.text = DecodeLine(line.raw, doc.encoding_);
        doc.lines_.push_back(std::move(line));
    }
    return doc;
}

Document Document::Load(const std::string& path) {
    auto bytes = files::ReadWholeFile(path);
    if (!bytes) return Document();
    return Parse(*bytes);
}

std::optional<Document::SectionRange> Document::FindSection(std::string_view section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        auto name = SectionName(lines_[i].text);
        if (!name || !EqualsAsciiNoCase(*name, TrimBlanks(section))) continue;
        std::size_t end = i + 1;
        while (end < lines_.size() && !SectionName(lines_[end].text)) ++end;
        return SectionRange{i, end};
    }
    return std::nullopt;
}

std::optional<std::size_t> Document::FindKeyLine(const SectionRange& range,
                                                 std::string_view key) const {
    for (std::size_t i = range.head + 1; i < range.end; ++i) {
        auto kv = SplitKeyLine(lines_[i].text);
        if (kv && EqualsAsciiNoCase(kv->key, TrimBlanks(key))) return i;
    }
    return std::nullopt;
}

std::optional<std::string> Document::Find(std::string_view section, std::string_view key) const {
    auto range = FindSection(section);
    if (!range) return std::nullopt;
    auto line = FindKeyLine(*range, key);
    if (!line) return std::nullopt;
    return std::string(Unquote(SplitKeyLine(lines_[*line].text)->value));
}

std::string Document::DefaultEol() const {
    for (const auto& l : lines_) {
        if (!l.eol.empty()) return l.eol;
    }
    return "\r\n";
}

void Document::EndLine(Line& line) const {
    // A last line that ends in a lone CR would read as a CRLF line without it once a LF
    // follows; the CR stays part of the line only when a whole CRLF is added.
    const std::string_view cr =
        encoding_ == Encoding::kUtf16LeBom ? std::string_view("\r\0", 2) : std::string_view("\r");
    const bool endsWithCr = line.raw.size() >= cr.size() &&
                            std::string_view(line.raw).substr(line.raw.size() - cr.size()) == cr;
    line.eol = endsWithCr ? "\r\n" : DefaultEol();
}

Result<Document::Line> Document::MakeLine(std::string text) const {
    auto raw = EncodeLine(text, encoding_);
    if (!raw) return Error{raw.error()};
    return Line{std::move(*raw), std::move(text), DefaultEol()};
}

Status Document::Set(std::string_view section, std::string_view key, std::string_view value) {
    std::string keyText(TrimBlanks(key));
    auto keyLine = MakeLine(keyText + "=" + std::string(value));
    if (!keyLine) return Error{keyLine.error()};
    auto range = FindSection(section);
    if (range) {
        if (auto at = FindKeyLine(*range, key)) {
            keyLine->eol = lines_[*at].eol.empty() ? std::string() : lines_[*at].eol;
            lines_[*at] = std::move(*keyLine);
            return {};
        }
        // After the section's last non-blank line, so trailing blank lines stay between sections.
        std::size_t insertAt = range->end;
        while (insertAt > range->head + 1 && TrimBlanks(lines_[insertAt - 1].text).empty()) {
            --insertAt;
        }
        if (lines_[insertAt - 1].eol.empty()) EndLine(lines_[insertAt - 1]);
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(*keyLine));
        return {};
    }
    auto head = MakeLine("[" + std::string(TrimBlanks(section)) + "]");
    if (!head) return Error{head.error()};
    if (!lines_.empty() && lines_.back().eol.empty()) EndLine(lines_.back());
    lines_.push_back(std::move(*head));
    lines_.push_back(std::move(*keyLine));
    return {};
}

std::string Document::Serialize() const {
    std::string out;
    if (encoding_ == Encoding::kUtf16LeBom) out += kUtf16LeBom;
    if (encoding_ == Encoding::kUtf8Bom) out += kUtf8Bom;
    const bool wide = encoding_ == Encoding::kUtf16LeBom;
    for (const auto& l : lines_) {
        out += l.raw;
        for (char c : l.eol) {
            out += c;
            if (wide) out += '\0';
        }
    }
    out += oddTail_;
    return out;
}

Status Document::Save(const std::string& path) const {
    auto outcome = files::WriteFileAtomically(path, Serialize());
    if (!outcome.ok()) return Error{path + ": " + outcome.message};
    return {};
}

int ParseProfileInt(std::string_view value) {
    std::string_view s = TrimBlanks(value);
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    long long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') break;
        if (v < 0x7FFFFFFFLL + 1) v = v * 10 + (c - '0');
    }
    if (negative) v = -v;
    if (v > 0x7FFFFFFFLL) v = 0x7FFFFFFFLL;
    if (v < -0x80000000LL) v = -0x80000000LL;
    return static_cast<int>(v);
}

std::string GetString(std::string_view section, std::string_view key, std::string_view def,
                      std::size_t bufferChars, const std::string& path) {
    if (bufferChars == 0) return {};
    auto value = Document::Load(path).Find(section, key);
    return CutChars(value ? *value : def, bufferChars - 1);
}

int GetInt(std::string_view section, std::string_view key, int def, const std::string& path) {
    auto value = Document::Load(path).Find(section, key);
    return value ? ParseProfileInt(*value) : def;
}

Status WriteString(std::string_view section, std::string_view key, std::string_view value,
                   const std::string& path) {
    Document doc = Document::Load(path);
    if (Status s = doc.Set(section, key, value); !s) return s;
    return doc.Save(path);
}

std::string GetStringA(std::string_view section, std::string_view key, std::string_view def,
                       std::size_t bufferBytes, const std::string& path) {
    if (bufferBytes == 0) return {};
    auto value = Document::Load(path).Find(ToUtf8(section), ToUtf8(key));
    if (!value) return CutCp932(def, bufferBytes - 1);
    auto cp = codepage::Utf8ToCp932(*value);
    return CutCp932(cp ? *cp : std::string(), bufferBytes - 1);
}

int GetIntA(std::string_view section, std::string_view key, int def, const std::string& path) {
    return GetInt(ToUtf8(section), ToUtf8(key), def, path);
}

Status WriteStringA(std::string_view section, std::string_view key, std::string_view value,
                    const std::string& path) {
    auto v = codepage::Cp932ToUtf8(value);
    if (!v) return Error{v.error()};
    return WriteString(ToUtf8(section), ToUtf8(key), *v, path);
}

}  // namespace ys::profile
