#include "app/errors/support_contact.h"

#include <cstdio>

#include "app/local_time.h"
#include "platform/paths.h"
#include "platform/profile.h"

namespace ys {
namespace {

constexpr std::string_view kMailSubject = "SOLAR_ERROR_REPORT";
constexpr std::string_view kMailBody = "ソーラーシステム・診断データ送信";

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// RFC 6068 "some-delims": allowed unencoded in addresses and header values; "@" only in the
// address part ("&" and "=" separate the header fields and are never in this set).
bool IsSomeDelim(unsigned char c) {
    return std::string_view("!$'()*+,;:@").find(static_cast<char>(c)) != std::string_view::npos;
}

std::string PercentEncode(std::string_view text, bool keepDelims) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsUnreserved(c) || (keepDelims && IsSomeDelim(c))) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

}  // namespace

std::string SupportFolder(const std::string& documentsDir) {
    return paths::Join(documentsDir, "Norvane");
}

std::string SupportFileName(std::int64_t today) {
    const LocalDateTime d = ToLocal(today);
    char name[40];
    std::snprintf(name, sizeof name, "PV_ERROR_%04d%02d%02d.sol", d.year, d.month, d.day);
    return name;
}

std::vector<std::string> InstructionLines(std::string_view fileName) {
    std::vector<std::string> lines;
    for (std::string_view format : kInstructionFormats) {
        if (format.empty()) break;
        std::string line(format);
        if (auto at = line.find("%s"); at != std::string::npos) line.replace(at, 2, fileName);
        lines.push_back(std::move(line));
    }
    return lines;
}

SupportFile PrepareSupportFile(const CYieldscopeApp& app, const std::string& documentsDir) {
    SupportFile out;
    out.folder = SupportFolder(documentsDir);
    out.fileName = SupportFileName(app.Now());
    // A folder that cannot be made is reported by the save that follows.
    (void)paths::MakeDirs(out.folder);
    out.save = SaveUserData(app, paths::Join(out.folder, out.fileName));
    return out;
}

std::string SupportMailAddress(const std::string& programDir) {
    const std::string value = profile::GetString(kSupportMailSection, kSupportMailKey, "", 256,
                                                 paths::Join(programDir, "admin.ini"));
    return value.empty() ? std::string(kDefaultSupportMail) : value;
}

std::string BuildSupportMailLink(std::string_view addressUtf8) {
    return "mailto:" + PercentEncode(addressUtf8, true) +
           "?subject=" + PercentEncode(kMailSubject, true) +
           "&body=" + PercentEncode(kMailBody, true);
}

}  // namespace ys
