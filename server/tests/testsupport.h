#pragma once
// What the server tests share: a fixture with a temporary folder, fake engines (shell scripts that behave like
// unplot-engine in one way each), an in-process unplotd on 127.0.0.1 port 0 and a client for it.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <httplib.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

#include "config.h"
#include "unplotserver.h"

namespace unplot::server::test {

// Polls `condition` every few milliseconds until it holds or `limit` has passed; returns its last value.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(15));

// A small file that starts like a PDF (the fake engines never read it).
std::string pdfBytes(std::size_t size = 64);

// The upload form as the app sends it; each field can be dropped or changed by a test.
struct Form {
    std::optional<std::string> pdf = pdfBytes();
    std::optional<std::string> type = "0";
    std::optional<std::string> pages = "-1";
    std::optional<std::string> version = "14";
};

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes an executable fake engine. `info` is the shell code run for --info, `convert` for a conversion
    // ($1 input, $2 output zip). Every conversion first appends its input's name to calls.log.
    std::filesystem::path writeEngine(const std::string& name, const std::string& info, const std::string& convert);
    // Answers --info with 3 pages and writes a small archive.
    std::filesystem::path goodEngine();
    // Answers --info with 3 pages, then converts with `convert`.
    std::filesystem::path engineConverting(const std::string& name, const std::string& convert);

    // A configuration for the tests: data in the temporary folder, port 0, one worker, short limits.
    ServerConfig config(const std::filesystem::path& engine) const;
    void start(const ServerConfig& config);
    void stop();

    httplib::Result upload(const Form& form);
    // Uploads and expects acceptance; returns the job id.
    std::string submit(const Form& form = {});
    httplib::Result poll(const std::string& id);
    nlohmann::json pollJson(const std::string& id);
    // Polls until the job has ended (status not 10 or 20); returns the last reply.
    nlohmann::json waitForEnd(const std::string& id);
    // Lines of calls.log naming this job, i.e. how many conversions of it the engine ran.
    int conversionsOf(const std::string& id) const;

    httplib::Client& client() { return *client_; }
    UnplotServer& server() { return *server_; }
    const std::filesystem::path& dir() const { return dir_; }

private:
    std::filesystem::path dir_;
    std::unique_ptr<UnplotServer> server_;
    std::thread listener_;
    std::unique_ptr<httplib::Client> client_;
};

}  // namespace unplot::server::test
