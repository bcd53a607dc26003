// Where report files live and how they are written: rendered at the moment of
// writing, put in a temporary sibling and renamed over the old report, so a
// reader always finds a whole report or the previous one.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace quillon {

inline constexpr const char* kResultReportName = ".quillon-launcher-result.json";
inline constexpr const char* kErrorReportName = ".quillon-launcher-error.json";

// The report named fileName inside the user data directory when that is
// present and non-empty, else inside the per-user application folder.
std::string reportPath(const std::optional<std::string>& userDataDir, const char* fileName);

// Creates the parent directory, renders the bytes, writes them to
// <destination>.tmp and renames that over the destination. Returns false on
// any failure, leaving no temporary file behind and never writing anything
// else; a directory standing at the destination makes the write fail.
bool writeReportBytes(const std::string& destination, const std::function<std::string()>& render);

// Current time in UTC as an RFC 3339 date-time with whole seconds and "Z".
std::string reportTimestamp();

}  // namespace quillon
