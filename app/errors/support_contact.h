// The support contact without its dialog: the support data file written into the documents
// folder, the texts the dialog shows, and the mail link to the support desk.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/user_data_file.h"

namespace ys {

inline constexpr std::string_view kContactDlgTitle = "ノルベインソーラーコーポーレーションへ連絡";
inline constexpr std::string_view kPrivacyCaption = "個人情報の取扱いについて";
inline constexpr std::string_view kSendCaption = "データファイルの送信方法について";
inline constexpr std::string_view kSendButton = "データファイルを送信する";
inline constexpr std::string_view kCloseButton = "閉じる";

inline constexpr std::string_view kPrivacyText =
    "1. 以下の作業で送信されるデータファイルには、お客様の個人情報が含まれております。\n"
    "   "
    "具体的には、お客様名、ご住所、電話番号、太陽電池容量など、お客様情報画面で入力していただいた内"
    "容に\n"
    "   なります。\n"
    "\n"
    "2. お客様からご提供していただいた個人情報は、次の目的などで利用させていただきます。\n"
    "　(1)ヘリオミルの結果確認\n"
    "　(2)点検が必要と思われる場合の連絡、訪問\n"
    "\n"
    "3. "
    "お客様からご提供していただいた個人情報は、上記2."
    "の目的で利用するために、株式会社ノルベインソーラー\n"
    "   "
    "コーポレーションより、購入元の販売店または弊社サービス指定店に提供させていただく場合がございま"
    "す。\n"
    "   "
    "なお、その場合は、販売店またはサービス指定店より、お客様に連絡させていただく場合がございます。"
    "\n";
inline constexpr std::array<std::string_view, 21> kInstructionFormats = {
    "[データファイルを送信する]ボタンを押すと、メール送信の準備をします。",
    " ",
    "　１．メール送信画面を自動で開きます。",
    "　　（宛先と表題はあらかじめセットされています。）",
    " ",
    "　２．送信するデータファイルが入ったフォルダを自動で開きます。",
    "　　（マイ ドキュメント\\Norvane フォルダ）",
    " ",
    "　３．お客様の操作によりデータファイルをメールに添付して、メール送信を行ってください。",
    "　　（「 %s 」という名称のファイルを添付してください。）",
    " ",
    "　「Outlook Express」の場合は、データファイルのドラッグ＆ドロップ操作により",
    "　ファイル添付をすることができます。",
    " ",
    "　他のメールソフトをご利用の場合は、それぞれのメールソフトの操作により",
    "　ファイルを添付して送信を行ってください。",
    " ",
    "　※ドラッグ＆ドロップ操作",
    "　　ファイルアイコンをマウスで左クリックしボタンを押したままカーソルを移動させます。",
    "　  その後、目的のウィンドウ上でマウスボタンをはなします。",
    "",
};

// The support desk's address when admin.ini does not set one: [SUPPORT] MAIL=...
inline constexpr std::string_view kSupportMailSection = "SUPPORT";
inline constexpr std::string_view kSupportMailKey = "MAIL";
inline constexpr std::string_view kDefaultSupportMail = "pv-support@norvane-solar.example";

// "Norvane" inside the documents folder.
std::string SupportFolder(const std::string& documentsDir);
// "PV_ERROR_YYYYMMDD.sol" for the local date of `today`.
std::string SupportFileName(std::int64_t today);

// The 20 instruction lines with the file name put in.
std::vector<std::string> InstructionLines(std::string_view fileName);

struct SupportFile {
    std::string folder;
    std::string fileName;
    FileResult save;  // path is the full path of the file
};

// Creates the support folder (failure shows up as a failed save) and writes the whole user data
// into today's support file, replacing an earlier one of the same day.
SupportFile PrepareSupportFile(const CYieldscopeApp& app, const std::string& documentsDir);

// The address from `programDir`/admin.ini, or the built-in one when it is missing or blank.
std::string SupportMailAddress(const std::string& programDir);

// "mailto:" link with subject and body; everything outside the characters that RFC 6068 allows
// as they are is percent-encoded as UTF-8, so the Japanese body reaches the mail program intact.
std::string BuildSupportMailLink(std::string_view addressUtf8);

}  // namespace ys
