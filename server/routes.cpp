#include "routes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::optional<std::string> field(const httplib::Request& req, std::string_view name)
{
    std::string key(name);
    if (!req.has_file(key))
        return std::nullopt;
    return req.get_file_value(key).content;
}

void handleUpload(const httplib::Request& req, httplib::Response& res, ConversionService& service)
{
    UploadForm form;
    form.multipart = req.is_multipart_form_data();
    form.pdf = field(req, protocol::kFieldFile);
    form.type = field(req, protocol::kFieldType);
    form.pages = field(req, protocol::kFieldPages);
    form.version = field(req, protocol::kFieldVersion);
    send(res, service.upload(form));
}

// Streams the archive from an open descriptor: no whole-file read, and a sweep that deletes the file meanwhile
// does not cut the download short.
void sendArchive(httplib::Response& res, int fd, std::size_t size)
{
    auto file = std::shared_ptr<int>(new int(fd), [](int* f) {
        ::close(*f);
        delete f;
    });
    res.set_content_provider(size, "application/zip",
                             [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                 char buffer[64 * 1024];
                                 ssize_t n = ::pread(*file, buffer, std::min(length, sizeof buffer),
                                                     static_cast<off_t>(offset));
                                 if (n <= 0)
                                     return false;
                                 return sink.write(buffer, static_cast<std::size_t>(n));
                             });
}

void handleDownload(const httplib::Request& req, httplib::Response& res, ConversionService& service)
{
    auto file = service.resultFile(req.matches[1].str());
    int fd = file ? ::open(file->c_str(), O_RDONLY | O_CLOEXEC) : -1;
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        if (fd >= 0)
            ::close(fd);
        send(res, httpError(404, "There is no such result; results are deleted some time after the conversion."));
        return;
    }
    sendArchive(res, fd, static_cast<std::size_t>(info.st_size));
}

}  // namespace

void registerRoutes(httplib::Server& http, ConversionService& service)
{
    const std::string ajax(protocol::kAjaxPath);
    http.Post(ajax, [&service](const httplib::Request& req, httplib::Response& res) {
        std::string op = req.get_param_value("op");
        if (op == protocol::kUploadOp)
            handleUpload(req, res, service);
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
        if (res.status == 413)
            send(res, refused(Refusal::TooLarge, "The upload is too large for this service."));
        else if (res.status == 404)
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
