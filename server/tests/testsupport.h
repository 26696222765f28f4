#pragma once
// What the server tests share: a temporary folder, fake engines (shell scripts that behave like unplot-engine in
// one way each), an in-process unplotd on 127.0.0.1 port 0 and a client for it.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <httplib.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <protocol.h>
#include <string>
#include <thread>

#include "config.h"
#include "unplotserver.h"

namespace unplot::server::test {

namespace fs = std::filesystem;

// Polls `condition` until it holds or `limit` has passed; returns its last value.
inline bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(15))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return condition();
}

// A small file that starts like a PDF (the fake engines never read it).
inline std::string pdfBytes(std::size_t size = 64)
{
    std::string pdf = "%PDF-1.7\n%\xe2\xe3\xcf\xd3\n";
    pdf.resize(std::max(size, pdf.size() + 6), ' ');
    return pdf.replace(pdf.size() - 6, 6, "%%EOF\n");
}

// The upload form as the app sends it; a test drops or changes fields.
struct Form {
    std::optional<std::string> pdf = pdfBytes(), type = "0", pages = "-1", version = "14";
};

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = (fs::path(tmp && *tmp ? tmp : "/tmp") / "unplotd-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override
    {
        stop();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // An executable fake engine: `info` is the shell code run for --info, `convert` for a conversion ($1 input,
    // $2 output zip); every conversion first appends its input's name to calls.log.
    fs::path engine(const std::string& name, const std::string& convert,
                    const std::string& info = "echo '{\"pages\":3}'; exit 0")
    {
        fs::path path = dir_ / name;
        std::ofstream(path) << "#!/bin/bash\nif [ \"$1\" = --info ]; then\n" << info << "\nfi\necho \"$(basename \"$1\")\" >> '"
                            << (dir_ / "calls.log").string() << "'\n" << convert << "\n";
        fs::permissions(path, fs::perms::owner_all);
        return path;
    }
    // Writes an archive holding its arguments.
    fs::path goodEngine() { return engine("good-engine", "printf 'PK\\003\\004 result of %s' \"$*\" > \"$2\""); }

    // Data in the temporary folder, port 0, one worker, short limits.
    ServerConfig config(const fs::path& engine) const
    {
        ServerConfig config;
        config.port = 0;
        config.dataDir = dir_ / "data";
        config.maxUploadBytes = 1 << 20;
        config.jobTime = std::chrono::seconds(20);
        config.jobMemoryBytes = std::size_t{512} << 20;
        config.engine = engine;
        config.maxQueue = 10;
        config.infoTime = std::chrono::seconds(10);
        config.sweepInterval = std::chrono::hours(24);
        return config;
    }
    void start(const ServerConfig& config)
    {
        server_ = std::make_unique<UnplotServer>(config);
        port_ = server_->bind();
        ASSERT_GT(port_, 0);
        listener_ = std::thread([this] { server_->listen(); });
        client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
        client_->set_read_timeout(30, 0);
    }
    void stop()
    {
        if (!server_)
            return;
        server_->stop();
        listener_.join();
        client_.reset();
        server_.reset();
    }

    httplib::Result upload(const Form& form)
    {
        httplib::MultipartFormDataItems items;
        if (form.pdf)
            items.push_back({"convertData", *form.pdf, "convert.pdf", "application/pdf"});
        for (auto [name, value] : {std::pair{"drp_Type", form.type}, {"txt_Page", form.pages}, {"drp_Version", form.version}})
            if (value)
                items.push_back({name, *value, "", ""});
        return client_->Post(std::string(protocol::kUploadPath), items);
    }
    // Expects the upload accepted; returns the job id.
    std::string submit(const Form& form = {})
    {
        auto res = upload(form);
        auto reply = nlohmann::json::parse(res ? res->body : "", nullptr, false);
        if (res && res->status == 200 && reply.is_object() && reply["fileId"].is_string())
            return reply["fileId"];
        ADD_FAILURE() << "upload not accepted: " << (res ? res->body : httplib::to_string(res.error()));
        return {};
    }
    nlohmann::json pollJson(const std::string& id)
    {
        auto res = client_->Get(std::string(protocol::kQueuePathPrefix) + id);
        return res ? nlohmann::json::parse(res->body, nullptr, false) : nullptr;
    }
    // The job's status; 0 when the reply has none.
    int status(const std::string& id, nlohmann::json* reply = nullptr)
    {
        nlohmann::json json = pollJson(id);
        if (reply)
            *reply = json;
        return json.is_object() && json["status"].is_number() ? json["status"].get<int>() : 0;
    }
    // Polls until the job is neither waiting nor converting; returns the last reply.
    nlohmann::json waitForEnd(const std::string& id)
    {
        nlohmann::json reply;
        EXPECT_TRUE(waitUntil([&] {
            int s = status(id, &reply);
            return s != 0 && s != protocol::status::kWaiting && s != protocol::status::kConverting;
        }, std::chrono::seconds(60))) << "job " << id << " still at " << reply.dump();
        return reply;
    }
    // Lines of calls.log naming this job: the conversions of it that the engine ran.
    int conversionsOf(const std::string& id) const
    {
        std::ifstream log(dir_ / "calls.log");
        int count = 0;
        for (std::string line; std::getline(log, line);)
            count += line == id + ".pdf";
        return count;
    }

    httplib::Client& client() { return *client_; }
    UnplotServer& server() { return *server_; }
    const fs::path& dir() const { return dir_; }
    int port() const { return port_; }

private:
    fs::path dir_;
    std::unique_ptr<UnplotServer> server_;
    std::thread listener_;
    std::unique_ptr<httplib::Client> client_;
    int port_ = 0;
};

}  // namespace unplot::server::test
