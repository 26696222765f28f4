#include "replies.h"

#include <nlohmann/json.hpp>
#include <protocol.h>

namespace unplot::server {

using Json = nlohmann::ordered_json;

namespace {

struct RefusalInfo {
    std::string_view code;
    int http;
};

RefusalInfo info(Refusal reason)
{
    switch (reason) {
    case Refusal::BadRequest: return {"40", 400};
    case Refusal::NotPdf: return {"41", 415};
    case Refusal::Damaged: return {"42", 422};
    case Refusal::Encrypted: return {"43", 422};
    case Refusal::BadPages: return {"44", 422};
    case Refusal::BadType: return {"45", 400};
    case Refusal::BadVersion: return {"46", 400};
    case Refusal::DwgUnavailable: return {"47", 400};
    case Refusal::TooLarge: return {"48", 413};
    case Refusal::QueueFull: return {"49", 429};
    case Refusal::ServiceFailure: return {"50", 500};
    }
    return {"50", 500};
}

std::string dump(const Json& json)
{
    // Invalid UTF-8 from a request (echoed in a message) is replaced rather than thrown on.
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

std::string_view refusalCode(Refusal reason)
{
    return info(reason).code;
}

int refusalHttpStatus(Refusal reason)
{
    return info(reason).http;
}

Reply uploadAccepted(const std::string& id)
{
    return {200, dump(Json{{"result", protocol::kUploadAccepted}, {"fileId", id}})};
}

Reply refused(Refusal reason, const std::string& message)
{
    return {info(reason).http, dump(Json{{"result", info(reason).code}, {"message", message}})};
}

Reply httpError(int httpStatus, const std::string& message)
{
    return {httpStatus, dump(Json{{"result", std::to_string(httpStatus)}, {"message", message}})};
}

Reply queueState(std::int64_t place, std::int64_t status, const std::string& resultPath, const std::string& message)
{
    Json reply{{"num", place}, {"status", status}, {"result", resultPath}};
    if (!message.empty())
        reply["message"] = message;
    return {200, dump(reply)};
}

Reply unknownFile()
{
    return {404, dump(Json{{"num", protocol::kNumUnknownFile}})};
}

}  // namespace unplot::server
