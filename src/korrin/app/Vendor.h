// The vendor's addresses and the product's name and version, in one place. The addresses are
// placeholders under the reserved .example domain until real ones exist.
#pragma once

#include <string>

namespace korrin::vendor {

inline constexpr const char* kWebAddress = "http://www.quillion.example/";
inline constexpr const char* kSupportEmail = "support@quillion.example";
inline constexpr const char* kDownloadPage = "http://www.quillion.example/Download_Now.html";
inline constexpr const char* kPkzipMakerAddress = "http://www.pkzip-maker.example/";

inline constexpr const char* kProductLabel = "Quillion EMail for Windows(tm)";
inline constexpr const char* kLibraryProductLabel = "Quillion EMail(tm) Mapi support";
inline constexpr const char* kVersion = "6.0";

// Caption of the plain message boxes ("Email", where other boxes write "EMail").
inline constexpr const char* kPlainBoxCaption = "Quillion Email for Windows(tm)";
// Caption of questions and notices.
inline constexpr const char* kQuestionCaption = "Quillion EMail for Windows(tm)";

// A page of the vendor's web site ("NewCompression.html", "korrinhelp.html", ...).
inline std::string Page(const std::string& name) {
    return std::string(kWebAddress) + name;
}

inline std::string SupportMailLink() {
    return std::string("mailTo:") + kSupportEmail;
}

}  // namespace korrin::vendor
