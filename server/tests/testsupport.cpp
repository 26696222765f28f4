#include "testsupport.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <protocol.h>
#include <sstream>

namespace unplot::server::test {

namespace fs = std::filesystem;

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string pdfBytes(std::size_t size)
{
    std::string pdf = "%PDF-1.7\n%\xe2\xe3\xcf\xd3\n";
    pdf.resize(std::max(size, pdf.size() + 6), ' ');
    pdf.replace(pdf.size() - 6, 6, "%%EOF\n");
    return pdf;
}

void ServerTest::SetUp()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = (fs::path(tmp && *tmp ? tmp : "/tmp") / "unplotd-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
}

void ServerTest::TearDown()
{
    stop();
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

fs::path ServerTest::writeEngine(const std::string& name, const std::string& info, const std::string& convert)
{
    fs::path path = dir_ / name;
    std::ofstream script(path);
    script << "#!/bin/bash\n"
           << "if [ \"$1\" = --info ]; then\n"
           << info << "\n"
           << "fi\n"
           << "echo \"$(basename \"$1\")\" >> '" << (dir_ / "calls.log").string() << "'\n"
           << convert << "\n";
    script.close();
    fs::permissions(path, fs::perms::owner_all);
    return path;
}

fs::path ServerTest::goodEngine()
{
    return engineConverting("good-engine", "printf 'PK\\003\\004 result of %s' \"$*\" > \"$2\"; exit 0");
}

fs::path ServerTest::engineConverting(const std::string& name, const std::string& convert)
{
    return writeEngine(name, "echo '{\"pages\":3}'; exit 0", convert);
}

ServerConfig ServerTest::config(const fs::path& engine) const
{
    ServerConfig config;
    config.host = "127.0.0.1";
    config.port = 0;
    config.dataDir = dir_ / "data";
    config.workers = 1;
    config.maxUploadBytes = 1 << 20;
    config.jobTime = std::chrono::seconds(20);
    config.jobMemoryBytes = std::size_t{512} << 20;
    config.engine = engine;
    config.maxQueue = 10;
    config.infoTime = std::chrono::seconds(10);
    config.sweepInterval = std::chrono::hours(24);
    return config;
}

void ServerTest::start(const ServerConfig& config)
{
    server_ = std::make_unique<UnplotServer>(config);
    int port = server_->bind();
    ASSERT_GT(port, 0);
    listener_ = std::thread([this] { server_->listen(); });
    client_ = std::make_unique<httplib::Client>("127.0.0.1", port);
    client_->set_read_timeout(30, 0);
    ASSERT_TRUE(waitUntil([this] { return static_cast<bool>(client_->Get("/healthz")); }));
}

void ServerTest::stop()
{
    if (!server_)
        return;
    server_->stop();
    if (listener_.joinable())
        listener_.join();
    client_.reset();
    server_.reset();
}

httplib::Result ServerTest::upload(const Form& form)
{
    httplib::MultipartFormDataItems items;
    if (form.pdf)
        items.push_back({"convertData", *form.pdf, "convert.pdf", "application/pdf"});
    if (form.type)
        items.push_back({"drp_Type", *form.type, "", ""});
    if (form.pages)
        items.push_back({"txt_Page", *form.pages, "", ""});
    if (form.version)
        items.push_back({"drp_Version", *form.version, "", ""});
    return client_->Post(std::string(protocol::kUploadPath), items);
}

std::string ServerTest::submit(const Form& form)
{
    auto res = upload(form);
    if (!res) {
        ADD_FAILURE() << "upload failed: " << httplib::to_string(res.error());
        return {};
    }
    EXPECT_EQ(res->status, 200) << res->body;
    auto reply = nlohmann::json::parse(res->body, nullptr, false);
    if (!reply.is_object() || !reply.contains("fileId") || !reply["fileId"].is_string()) {
        ADD_FAILURE() << "unexpected upload reply " << res->body;
        return {};
    }
    return reply["fileId"].get<std::string>();
}

httplib::Result ServerTest::poll(const std::string& id)
{
    return client_->Get(std::string(protocol::kQueuePathPrefix) + id);
}

nlohmann::json ServerTest::pollJson(const std::string& id)
{
    auto res = poll(id);
    if (!res)
        return nullptr;
    return nlohmann::json::parse(res->body, nullptr, false);
}

nlohmann::json ServerTest::waitForEnd(const std::string& id)
{
    nlohmann::json reply;
    bool ended = waitUntil([&] {
        reply = pollJson(id);
        return reply.is_object() && reply.contains("status") && reply["status"].is_number() &&
               reply["status"] != protocol::status::kWaiting && reply["status"] != protocol::status::kConverting;
    }, std::chrono::seconds(60));
    EXPECT_TRUE(ended) << "job " << id << " still at " << reply.dump();
    return reply;
}

int ServerTest::conversionsOf(const std::string& id) const
{
    std::ifstream log(dir_ / "calls.log");
    int count = 0;
    for (std::string line; std::getline(log, line);)
        count += line == id + ".pdf";
    return count;
}

}  // namespace unplot::server::test
