#include "routes.h"


#include <cstdlib>

#include <httplib.h>
#include <protocol.h>

#include "conversionservice.h"
#include "log.h"

namespace unplot::server {

namespace {

void send(httplib::Response& res, const Reply& reply)
{
    res.status = reply.httpStatus;
    res.set_content(reply.body, reply.contentType.c_str());
}

// Streams the PDF to a file as it arrives; the rest of the form is small.
void handleUpload(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& read,
                  ConversionService& service)
{
    auto upload = service.receiveUpload();
    if (!req.is_multipart_form_data())
        upload->refuse(UploadForm::Problem::NotMultipart);
    else if (!read([&](const httplib::MultipartFormData& part) { return upload->beginPart(part.name); },
                   [&](const char* data, std::size_t size) { return upload->append(data, size); }) &&
             upload->finish().problem == UploadForm::Problem::None) {
        send(res, httpError(400, "The upload is not a readable multipart form."));
        return;
    }
    send(res, service.upload(*upload));
}

void handleDownload(const httplib::Request& req, httplib::Response& res, ConversionService& service)
{
    auto archive = service.archive(req.matches[1].str());
    if (!archive) {
        send(res, httpError(404, "There is no such result; results are deleted some time after the conversion."));
        return;
    }
    res.set_content_provider(static_cast<std::size_t>(archive->size), "application/zip",
                             [read = archive->read](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                 char buffer[64 * 1024];
                                 std::size_t n = read(offset, std::min(length, sizeof buffer), buffer);
                                 return n > 0 && sink.write(buffer, n);
                             });
}

}  // namespace

void registerRoutes(httplib::Server& http, ConversionService& service)
{
    const std::string ajax(protocol::kAjaxPath);
    // A request announcing more than any upload may be is refused before its body is read.
    http.set_pre_routing_handler([&service](const httplib::Request& req, httplib::Response& res) {
        auto refusal = service.refuseOversized(std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10));
        if (!refusal)
            return httplib::Server::HandlerResponse::Unhandled;
        send(res, *refusal);
        return httplib::Server::HandlerResponse::Handled;
    });
    http.Post(ajax, [&service](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& read) {
        std::string op = req.get_param_value("op");
        if (op == protocol::kUploadOp)
            handleUpload(req, res, read, service);
        else if (op == protocol::kQueueOp)
            send(res, httpError(405, "Ask for the queue with GET."));
        else
            send(res, refused(Refusal::BadRequest, "Unknown operation \"" + op + "\"."));
    });
    http.Get(ajax, [&service](const httplib::Request& req, httplib::Response& res) {
        std::string op = req.get_param_value("op");
        if (op == protocol::kQueueOp)
            send(res, service.queueState(req.get_param_value("fileId")));
        else if (op == protocol::kUploadOp)
            send(res, httpError(405, "Upload with POST."));
        else
            send(res, refused(Refusal::BadRequest, "Unknown operation \"" + op + "\"."));
    });
    http.Get(std::string(protocol::kDownloadPrefix) + "(.*)",
             [&service](const httplib::Request& req, httplib::Response& res) { handleDownload(req, res, service); });
    http.Get(std::string(protocol::kHealthPath), [](const httplib::Request&, httplib::Response& res) {
        res.set_content("ok", "text/plain");
    });

    // Every other failure (unknown path, unparsable request, body over the size limit) still answers JSON.
    http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty())
            return;
        if (res.status == 404)
            send(res, httpError(404, "Not found."));
        else
            send(res, httpError(res.status, "The request was not understood (HTTP " + std::to_string(res.status) + ")."));
    });
    http.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
        std::string what = "unknown error";
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        logLine("internal error: " + what);
        send(res, refused(Refusal::ServiceFailure, "The service failed to handle the request; please try again later."));
    });
    http.set_logger([](const httplib::Request& req, const httplib::Response& res) {
        logLine(req.remote_addr + " " + req.method + " " + req.target + " -> " + std::to_string(res.status) + " " +
                std::to_string(res.body.empty() ? res.content_length_ : res.body.size()) + " bytes");
    });
}

}  // namespace unplot::server
