#pragma once
// The JSON replies of unplotd, built in one place. Upload replies are objects of strings; queue replies carry
// numbers as JSON numbers. The reasons for refusing an upload, each with its HTTP status and `result` code.

#include <cstdint>
#include <string>
#include <string_view>

namespace unplot::server {

struct Reply {
    int httpStatus = 200;
    std::string body;
    std::string contentType = "application/json";
};

// Why an upload (or any other request) is refused. `result` codes are strings, like the accepted "10".
enum class Refusal {
    BadRequest,      // "40" 400: not a multipart form, a field missing, an unknown operation
    NotPdf,          // "41" 415
    Damaged,         // "42" 422
    Encrypted,       // "43" 422
    BadPages,        // "44" 422: malformed page list, or pages this document does not have
    BadType,         // "45" 400: drp_Type other than "0" or "1"
    BadVersion,      // "46" 400: drp_Version other than 14, 15, 18, 21, 23
    DwgUnavailable,  // "47" 400
    TooLarge,        // "48" 413
    QueueFull,       // "49" 429
    ServiceFailure,  // "50" 500: the engine cannot be started, the disk is full...
};

std::string_view refusalCode(Refusal reason);
int refusalHttpStatus(Refusal reason);

// {"result":"10","fileId":ID}
Reply uploadAccepted(const std::string& id);
// {"result":CODE,"message":TEXT}
Reply refused(Refusal reason, const std::string& message);
// {"result":"<http status>","message":TEXT}, for failures outside the protocol (404, 405, bad multipart...)
Reply httpError(int httpStatus, const std::string& message);
// {"num":N,"status":S,"result":PATH}, and "message":TEXT when there is one (warnings, or why the job failed)
Reply queueState(std::int64_t place, std::int64_t status, const std::string& resultPath, const std::string& message);
// {"num":-2}, HTTP 404: an unknown, expired or malformed id
Reply unknownFile();

}  // namespace unplot::server
