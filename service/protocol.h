#pragma once
// The wire protocol between the unplot client and a conversion service (our unplotd, or any other that speaks it).
// Plain C++ so that both the Qt client and the server share one definition.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace unplot::protocol {

// Address of our own service when nothing else is configured.
inline constexpr std::string_view kDefaultHost = "localhost:8040";
// Environment variable that overrides the host ("host" or "host:port").
inline constexpr const char* kHostEnvironmentVariable = "UNPLOT_SERVICE";

// Endpoint paths (appended to "http://" + host).
inline constexpr std::string_view kUploadPath = "/include/ajax.aspx?op=mac_upload";
inline constexpr std::string_view kQueuePathPrefix = "/include/ajax.aspx?op=GetConvertQueue&fileId=";
inline constexpr std::string_view kAjaxPath = "/include/ajax.aspx";
inline constexpr std::string_view kUploadOp = "mac_upload";
inline constexpr std::string_view kQueueOp = "GetConvertQueue";
inline constexpr std::string_view kDownloadPrefix = "/download/";
inline constexpr std::string_view kHealthPath = "/healthz";

// Upload form.
inline constexpr std::string_view kFieldFile = "convertData";
inline constexpr std::string_view kFieldType = "drp_Type";
inline constexpr std::string_view kFieldPages = "txt_Page";
inline constexpr std::string_view kFieldVersion = "drp_Version";
inline constexpr std::string_view kUploadFileName = "convert.pdf";
inline constexpr std::string_view kUploadContentType = "application/pdf";
inline constexpr std::string_view kTypeDwg = "1";
inline constexpr std::string_view kTypeDxf = "0";
inline constexpr std::string_view kAllPages = "-1";

// Upload reply: {"result":"10","fileId":ID} when accepted; {"result":CODE,"message":TEXT} when refused.
inline constexpr std::string_view kUploadAccepted = "10";

// Queue reply: {"num":N,"status":S,"result":PATH}.
inline constexpr std::int64_t kNumUnknownFile = -2;
namespace status {
inline constexpr std::int64_t kWaiting = 10;
inline constexpr std::int64_t kConverting = 20;
inline constexpr std::int64_t kDone = 100;
inline constexpr std::int64_t kDoneWithWarnings = 101;
// 30 and above: failed. Our service's failure codes:
inline constexpr std::int64_t kFailed = 30;           // the engine reported an error
inline constexpr std::int64_t kCrashed = 31;          // the engine process crashed
inline constexpr std::int64_t kTimedOut = 32;         // the engine ran past its time limit
inline constexpr std::int64_t kOutOfMemory = 33;      // the engine ran past its memory limit
inline constexpr std::int64_t kInterrupted = 34;      // the service stopped twice while converting this job
inline constexpr std::int64_t kNothingConverted = 35; // no page gave any drawing
}  // namespace status

// Drawing version codes, in the order the client offers them.
struct VersionCode {
    std::int64_t code;
    std::string_view name;     // as users know it
    std::string_view acadVer;  // the $ACADVER of the DXF/DWG written for it
};
inline constexpr VersionCode kVersions[] = {
    {14, "R14", "AC1014"}, {15, "2000", "AC1015"}, {18, "2004", "AC1018"}, {21, "2007", "AC1021"}, {23, "2010", "AC1024"},
};
std::optional<VersionCode> findVersion(std::int64_t code);
// Accepts "14" or "R14" (case-insensitive), "2000", "15", and so on.
std::optional<VersionCode> parseVersion(std::string_view text);

// A page list as the user types it: "1,3,5-7" with blanks around items allowed; pages count from 1.
// Returns the pages in the order given, duplicates removed; std::nullopt when the text is malformed.
// Ranges are checked against pageCount when it is given (> 0): a page beyond it makes the list invalid. A list
// naming more than kMaxListedPages pages, repeats included, is invalid too.
inline constexpr std::size_t kMaxListedPages = 100000;
struct PageListError {
    std::string message;
};
struct PageList {
    bool all = false;
    std::vector<int> pages;
};
std::optional<PageList> parsePageList(std::string_view text, int pageCount, PageListError* error = nullptr);

// Job identifiers: 32 lower-case hex digits (128 bits). Checked before an identifier touches the file system.
bool isValidJobId(std::string_view id);

}  // namespace unplot::protocol
