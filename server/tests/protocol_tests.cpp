// The protocol as the app sees it: reply shapes and codes of every endpoint, and every way a request can be wrong.

#include <protocol.h>

#include "conversionservice.h"
#include "testsupport.h"

namespace unplot::server::test {
namespace {

using nlohmann::json;

// {"result":CODE,"message":TEXT} with a readable TEXT holding `text`, all strings, as JSON.
void expectRefusal(const httplib::Result& res, int httpStatus, const std::string& code, const std::string& text = {})
{
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    EXPECT_EQ(res->status, httpStatus) << res->body;
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/json");
    json reply = json::parse(res->body, nullptr, false);
    ASSERT_TRUE(reply.is_object() && reply.size() == 2 && reply["result"].is_string() && reply["message"].is_string())
        << res->body;
    EXPECT_EQ(reply["result"], code) << res->body;
    std::string message = reply["message"];
    EXPECT_GT(message.size(), 10u) << res->body;
    EXPECT_NE(message.find(text), std::string::npos) << res->body;
}

std::string upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

class ProtocolTest : public ServerTest {
protected:
    void SetUp() override
    {
        ServerTest::SetUp();
        start(config(goodEngine()));
    }
};

TEST_F(ProtocolTest, AcceptedUploadConvertsAndDownloads)
{
    Form form;
    form.pages = " 3 , 1-2 ";
    form.version = "21";
    auto res = upload(form);
    ASSERT_TRUE(res);
    json reply = json::parse(res->body);
    ASSERT_EQ(reply.size(), 2u) << res->body;
    EXPECT_EQ(reply["result"], "10");
    std::string id = reply["fileId"];
    EXPECT_TRUE(protocol::isValidJobId(id)) << id;
    EXPECT_EQ(waitForEnd(id), (json{{"num", 0}, {"status", 100}, {"result", "/download/" + id + ".zip"}}));

    auto archive = client().Get("/download/" + id + ".zip");
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->get_header_value("Content-Type"), "application/zip");
    EXPECT_EQ(archive->get_header_value("Content-Length"), std::to_string(archive->body.size()));
    // The engine got the input, the options and the pages as given (runs joined).
    EXPECT_EQ(archive->body, "PK\003\004 result of " + (dir() / "data/jobs" / (id + ".pdf")).string() + " " +
                                 (dir() / "data/results" / (id + ".part.zip")).string() +
                                 " --dxf --version 21 --pages 3,1-2 --threads 1");

    form = {};
    form.type = "1";
    std::string dwg = submit(form);
    EXPECT_NE(dwg, id);
    waitForEnd(dwg);
    EXPECT_NE(client().Get("/download/" + dwg + ".zip")->body.find("--dwg --version 14 --pages 1-3"), std::string::npos);
}

struct RefusalRow {
    const char* name;
    std::function<void(Form&)> change;
    int httpStatus;
    const char* code;
    const char* text;
};

class UploadRefusalTest : public ProtocolTest, public ::testing::WithParamInterface<RefusalRow> {};

TEST_P(UploadRefusalTest, RefusedWithAReadableMessage)
{
    Form form;
    GetParam().change(form);
    expectRefusal(upload(form), GetParam().httpStatus, GetParam().code, GetParam().text);
    EXPECT_EQ(client().Get("/healthz")->status, 200);
    EXPECT_TRUE(fs::is_empty(dir() / "data/jobs"));
}

const RefusalRow kRefusals[] = {
    {"NoPdfField", [](Form& f) { f.pdf.reset(); }, 400, "40", "convertData"},
    {"NoTypeField", [](Form& f) { f.type.reset(); }, 400, "40", "drp_Type"},
    {"NoPagesField", [](Form& f) { f.pages.reset(); }, 400, "40", "txt_Page"},
    {"NoVersionField", [](Form& f) { f.version.reset(); }, 400, "40", "drp_Version"},
    {"TypeTwo", [](Form& f) { f.type = "2"; }, 400, "45", "\"2\""},
    {"TypeAsWord", [](Form& f) { f.type = "dxf"; }, 400, "45", "0 for DXF"},
    {"TypeEmpty", [](Form& f) { f.type = ""; }, 400, "45", ""},
    {"VersionThirteen", [](Form& f) { f.version = "13"; }, 400, "46", "\"13\""},
    {"VersionByName", [](Form& f) { f.version = "R14"; }, 400, "46", "14 (R14)"},
    {"VersionWithBlank", [](Form& f) { f.version = "14 "; }, 400, "46", ""},
    {"VersionFraction", [](Form& f) { f.version = "14.0"; }, 400, "46", ""},
    {"PagesMalformed", [](Form& f) { f.pages = "1,,2"; }, 422, "44", "1,3,5-7"},
    {"PagesWords", [](Form& f) { f.pages = "all"; }, 422, "44", ""},
    {"PagesZero", [](Form& f) { f.pages = "0"; }, 422, "44", ""},
    {"PagesBackwards", [](Form& f) { f.pages = "3-1"; }, 422, "44", "backwards"},
    {"PagesEmpty", [](Form& f) { f.pages = ""; }, 422, "44", "empty"},
    {"PageBeyondDocument", [](Form& f) { f.pages = "4"; }, 422, "44", "has 3 pages"},
    {"RangeBeyondDocument", [](Form& f) { f.pages = "2-9"; }, 422, "44", "has 3 pages"},
    {"HugeRange", [](Form& f) { f.pages = "1-1000000000"; }, 422, "44", "not valid"},
    {"NotPdf", [](Form& f) { f.pdf = "\x89PNG\r\n\x1a\n not a pdf"; }, 415, "41", "not a PDF"},
    {"EmptyFile", [](Form& f) { f.pdf = ""; }, 415, "41", "not a PDF"},
    {"JustOverTheLimit", [](Form& f) { f.pdf = pdfBytes((1 << 20) + 1); }, 413, "48", "1 MB"},
    {"FarOverTheLimit", [](Form& f) { f.pdf = pdfBytes(3 << 20); }, 413, "48", ""},
};
INSTANTIATE_TEST_SUITE_P(Form, UploadRefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const auto& row) { return std::string(row.param.name); });

// Everything that is not an accepted upload or a known job answers JSON with its own code.
TEST_F(ProtocolTest, OtherRequestsAnswerJson)
{
    auto health = client().Get("/healthz");
    EXPECT_EQ(health->body, "ok");
    EXPECT_EQ(health->get_header_value("Content-Type"), "text/plain");

    std::string id = submit();
    waitForEnd(id);
    const std::string queue(protocol::kQueuePathPrefix);
    struct Row {
        std::string target;
        int status;
        std::string code;  // "result"; empty: the unknown-job reply {"num":-2}
    };
    const Row rows[] = {
        {"/", 404, "404"}, {"/index.html", 404, "404"}, {"/include/", 404, "404"}, {"/healthz/x", 404, "404"},
        {"/include/ajax.aspx?op=Delete", 400, "40"}, {"/include/ajax.aspx", 400, "40"},
        {"/include/ajax.aspx?op=mac_upload", 405, "405"},
        {queue + "0123456789abcdef0123456789abcdef", 404, ""}, {queue, 404, ""}, {queue + upper(id), 404, ""},
        {queue + id.substr(0, 31), 404, ""}, {queue + id + "0", 404, ""}, {queue + id + "%00", 404, ""},
        {queue + "../" + id.substr(3), 404, ""}, {queue + "%2e%2e%2f" + id.substr(9), 404, ""},
        {"/include/ajax.aspx?op=GetConvertQueue", 404, ""},
    };
    for (const Row& row : rows) {
        auto res = client().Get(row.target);
        ASSERT_TRUE(res) << row.target;
        EXPECT_EQ(res->status, row.status) << row.target;
        json reply = json::parse(res->body, nullptr, false);
        if (row.code.empty())
            EXPECT_EQ(reply, (json{{"num", -2}})) << row.target << ": " << res->body;
        else
            EXPECT_EQ(reply.value("result", ""), row.code) << row.target << ": " << res->body;
    }
    for (const std::string& file : std::vector<std::string>{upper(id) + ".zip", id.substr(1) + ".zip", id + "0.zip", id, id + ".ZIP",
                                    id + ".zip/", id + ".pdf", id + ".part.zip", "../jobs/" + id + ".pdf",
                                    "..%2fjobs.sqlite", "%2e%2e/jobs.sqlite", "%2e%2e%2fresults%2f" + id + ".zip",
                                    "x/../" + id + ".zip", id + ".zip%00", std::string()}) {
        auto res = client().Get("/download/" + file);
        EXPECT_EQ(res->status, 404) << file;
        EXPECT_EQ(res->get_header_value("Content-Type"), "application/json") << file;
    }
    EXPECT_EQ(client().Get("/download/" + id + ".zip")->status, 200);

    expectRefusal(client().Post("/include/ajax.aspx?op=mac_upload_all", "", "text/plain"), 400, "40", "");
    expectRefusal(client().Post(std::string(protocol::kUploadPath), "convertData=x", "application/x-www-form-urlencoded"),
                  400, "40", "multipart");
    auto broken = client().Post(std::string(protocol::kUploadPath), "--not-the-boundary\r\ngarbage",
                                "multipart/form-data; boundary=XYZ");
    EXPECT_EQ(broken->status, 400);
    EXPECT_EQ(json::parse(broken->body, nullptr, false).value("result", ""), "400") << broken->body;
}

TEST_F(ProtocolTest, ResultsAndUploadsExpire)
{
    std::string id = submit();
    waitForEnd(id);
    ASSERT_TRUE(fs::exists(dir() / "data/results" / (id + ".zip")));
    server().service().sweep(std::time(nullptr) + 23 * 3600);  // not yet
    EXPECT_EQ(status(id), 100);
    server().service().sweep(std::time(nullptr) + 25 * 3600);
    EXPECT_EQ(pollJson(id), (json{{"num", -2}}));
    EXPECT_EQ(client().Get("/download/" + id + ".zip")->status, 404);
    EXPECT_FALSE(fs::exists(dir() / "data/results" / (id + ".zip")));
    EXPECT_FALSE(fs::exists(dir() / "data/jobs" / (id + ".pdf")));
}

// What the upload hears about the document and the service, from the page-count probe and the settings.
struct ProbeRow {
    const char* name;
    const char* info;  // the engine's answer to --info; nullptr: no engine at all
    bool dwgOff;       // --no-dwg, and the form asks for DWG
    int httpStatus;
    const char* code;
    const char* text;
};

class ProbeTest : public ServerTest, public ::testing::WithParamInterface<ProbeRow> {};

TEST_P(ProbeTest, RefusedAtUpload)
{
    const ProbeRow& row = GetParam();
    ServerConfig settings = config(row.info ? engine("engine", "exit 0", row.info) : dir() / "no-such-engine");
    settings.enableDwg = !row.dwgOff;
    start(settings);
    Form form;
    form.type = row.dwgOff ? "1" : "0";
    expectRefusal(upload(form), row.httpStatus, row.code, row.text);
    EXPECT_FALSE(fs::exists(dir() / "calls.log"));  // no conversion ran
    EXPECT_TRUE(fs::is_empty(dir() / "data/jobs"));  // nothing of the refused upload stays behind
}

const ProbeRow kProbes[] = {
    {"Encrypted", R"(echo '{"error":"encrypted","message":"needs a password"}'; exit 3)", false, 422, "43", "password"},
    {"Damaged", R"(echo '{"error":"damaged","message":"no xref"}'; exit 3)", false, 422, "42", "damaged"},
    {"NotPdf", R"(echo '{"error":"not-pdf","message":"no header"}'; exit 3)", false, 415, "41", "not a PDF"},
    {"ProbeCrashes", "kill -SEGV $$", false, 422, "42", "damaged"},
    {"NoPages", R"(echo '{"pages":0}'; exit 0)", false, 422, "42", "damaged"},
    {"GarbledAnswer", R"(echo 'pages: 3'; exit 0)", false, 422, "42", "damaged"},
    {"MillionPages", R"(echo '{"pages":1000000}'; exit 0)", false, 422, "44", "at most 100000 pages"},
    {"MissingEngine", nullptr, false, 500, "50", "engine"},
    {"DwgSwitchedOff", R"(echo '{"pages":3}'; exit 0)", true, 400, "47", "DWG output is switched off on this service; choose DXF."},
};
INSTANTIATE_TEST_SUITE_P(Engine, ProbeTest, ::testing::ValuesIn(kProbes),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace unplot::server::test
