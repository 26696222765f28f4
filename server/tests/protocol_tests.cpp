// The protocol as the app sees it: reply shapes and codes of the upload, queue, download and health endpoints,
// and every way a request can be wrong.

#include <protocol.h>

#include "conversionservice.h"
#include "testsupport.h"

namespace unplot::server::test {
namespace {

using nlohmann::json;
namespace status = protocol::status;

bool isObjectOfStrings(const json& value)
{
    if (!value.is_object())
        return false;
    for (const auto& item : value.items())
        if (!item.value().is_string())
            return false;
    return true;
}

// A refused upload: a 4xx status and {"result":CODE,"message":TEXT}, all strings.
void expectRefusal(const httplib::Result& res, int httpStatus, const std::string& code, const std::string& text = {})
{
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    EXPECT_EQ(res->status, httpStatus) << res->body;
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/json");
    json reply = json::parse(res->body, nullptr, false);
    ASSERT_TRUE(isObjectOfStrings(reply)) << res->body;
    EXPECT_EQ(reply.size(), 2u) << res->body;
    EXPECT_EQ(reply.value("result", ""), code) << res->body;
    std::string message = reply.value("message", "");
    EXPECT_GT(message.size(), 10u) << res->body;
    EXPECT_NE(message.find(text), std::string::npos) << res->body;
}

class ProtocolTest : public ServerTest {
protected:
    void SetUp() override
    {
        ServerTest::SetUp();
        start(config(goodEngine()));
    }
};

TEST_F(ProtocolTest, HealthIsPlainOk)
{
    auto res = client().Get("/healthz");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, "ok");
    EXPECT_EQ(res->get_header_value("Content-Type"), "text/plain");
}

TEST_F(ProtocolTest, AcceptedUploadConvertsAndDownloads)
{
    Form form;
    form.pages = " 3 , 1-2 ";
    form.version = "21";
    auto res = upload(form);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    json reply = json::parse(res->body);
    ASSERT_TRUE(isObjectOfStrings(reply)) << res->body;
    EXPECT_EQ(reply.size(), 2u);
    EXPECT_EQ(reply["result"], "10");
    std::string id = reply["fileId"];
    EXPECT_TRUE(protocol::isValidJobId(id)) << id;

    json done = waitForEnd(id);
    EXPECT_EQ(done, (json{{"num", 0}, {"status", status::kDone}, {"result", "/download/" + id + ".zip"}}));

    auto archive = client().Get("/download/" + id + ".zip");
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->status, 200);
    EXPECT_EQ(archive->get_header_value("Content-Type"), "application/zip");
    EXPECT_EQ(archive->get_header_value("Content-Length"), std::to_string(archive->body.size()));
    // The engine got the input, the options and the pages as given (runs joined).
    std::string expected = "PK\003\004 result of " + (dir() / "data/jobs" / (id + ".pdf")).string() + " " +
                           (dir() / "data/results" / (id + ".part.zip")).string() + " --dxf --version 21 --pages 3,1-2";
    EXPECT_EQ(archive->body, expected);
}

TEST_F(ProtocolTest, IdsAreFreshAndUnpredictable)
{
    std::string first = submit(), second = submit();
    EXPECT_NE(first, second);
    EXPECT_TRUE(protocol::isValidJobId(first));
    EXPECT_TRUE(protocol::isValidJobId(second));
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
    {"HugeRange", [](Form& f) { f.pages = "1-999999999"; }, 422, "44", ""},
    {"NotPdf", [](Form& f) { f.pdf = "\x89PNG\r\n\x1a\n not a pdf"; }, 415, "41", "not a PDF"},
    {"EmptyFile", [](Form& f) { f.pdf = ""; }, 415, "41", "not a PDF"},
    {"JustOverTheLimit", [](Form& f) { f.pdf = pdfBytes((1 << 20) + 1); }, 413, "48", "1 MB"},
};
INSTANTIATE_TEST_SUITE_P(Form, UploadRefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(ProtocolTest, UploadThatIsNotMultipart)
{
    expectRefusal(client().Post(std::string(protocol::kUploadPath), "convertData=x&drp_Type=0",
                                "application/x-www-form-urlencoded"),
                  400, "40", "multipart");
}

TEST_F(ProtocolTest, BrokenMultipartAnswersJson)
{
    auto res = client().Post(std::string(protocol::kUploadPath), "--nothing-like-the-boundary\r\ngarbage",
                             "multipart/form-data; boundary=XYZ");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 400);
    EXPECT_TRUE(isObjectOfStrings(json::parse(res->body, nullptr, false))) << res->body;
}

TEST_F(ProtocolTest, UploadFarOverTheLimitIsCutOff)
{
    Form form;
    form.pdf = pdfBytes(3 << 20);
    auto res = upload(form);
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    EXPECT_EQ(res->status, 413);
    EXPECT_TRUE(isObjectOfStrings(json::parse(res->body, nullptr, false))) << res->body;
    EXPECT_EQ(client().Get("/healthz")->status, 200);
    EXPECT_FALSE(submit().empty());
}

TEST_F(ProtocolTest, UnknownOperationsAndPaths)
{
    expectRefusal(client().Get("/include/ajax.aspx?op=Delete"), 400, "40", "Delete");
    expectRefusal(client().Get("/include/ajax.aspx"), 400, "40", "Unknown operation");
    expectRefusal(client().Post("/include/ajax.aspx?op=mac_upload_all", "", "text/plain"), 400, "40", "");
    for (const char* path : {"/", "/index.html", "/include/", "/healthz/x"}) {
        auto res = client().Get(path);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 404) << path;
        EXPECT_TRUE(isObjectOfStrings(json::parse(res->body, nullptr, false))) << path << ": " << res->body;
    }
    auto wrongMethod = client().Get("/include/ajax.aspx?op=mac_upload");
    ASSERT_TRUE(wrongMethod);
    EXPECT_EQ(wrongMethod->status, 405);
}

TEST_F(ProtocolTest, UnknownExpiredOrMalformedIdsAnswerMinusTwo)
{
    std::string known = submit();
    waitForEnd(known);
    std::string upper = known;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string ids[] = {
        "0123456789abcdef0123456789abcdef",  // well-formed, never issued
        "",
        upper,
        known.substr(0, 31),
        known + "0",
        known + "%00",
        "../" + known.substr(3),
        "%2e%2e%2f" + known.substr(9),
    };
    for (const std::string& id : ids) {
        auto res = poll(id);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 404) << id;
        EXPECT_EQ(json::parse(res->body, nullptr, false), (json{{"num", -2}})) << id << ": " << res->body;
    }
    auto noId = client().Get("/include/ajax.aspx?op=GetConvertQueue");
    ASSERT_TRUE(noId);
    EXPECT_EQ(json::parse(noId->body, nullptr, false), (json{{"num", -2}}));
}

TEST_F(ProtocolTest, DownloadAnswersOnlyForExactIds)
{
    std::string id = submit();
    waitForEnd(id);
    ASSERT_EQ(client().Get("/download/" + id + ".zip")->status, 200);
    std::string upper = id;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string paths[] = {
        "/download/" + upper + ".zip",
        "/download/" + id.substr(1) + ".zip",
        "/download/" + id + "0.zip",
        "/download/" + id,
        "/download/" + id + ".ZIP",
        "/download/" + id + ".zip/",
        "/download/" + id + ".pdf",
        "/download/" + id + ".part.zip",
        "/download/../jobs/" + id + ".pdf",
        "/download/..%2fjobs.sqlite",
        "/download/%2e%2e/jobs.sqlite",
        "/download/%2e%2e%2fresults%2f" + id + ".zip",
        "/download/x/../" + id + ".zip",
        "/download/" + id + ".zip%00",
        "/download/",
        "/download",
    };
    for (const std::string& path : paths) {
        auto res = client().Get(path);
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(res->status, 404) << path;
        EXPECT_EQ(res->get_header_value("Content-Type"), "application/json") << path;
    }
}

TEST_F(ProtocolTest, ResultsAndUploadsExpire)
{
    std::string id = submit();
    waitForEnd(id);
    ASSERT_TRUE(std::filesystem::exists(dir() / "data/results" / (id + ".zip")));
    server().service().sweep(std::time(nullptr) + 23 * 3600);  // not yet
    EXPECT_EQ(pollJson(id)["status"], status::kDone);
    server().service().sweep(std::time(nullptr) + 25 * 3600);
    EXPECT_EQ(pollJson(id), (json{{"num", -2}}));
    EXPECT_EQ(client().Get("/download/" + id + ".zip")->status, 404);
    EXPECT_FALSE(std::filesystem::exists(dir() / "data/results" / (id + ".zip")));
    EXPECT_FALSE(std::filesystem::exists(dir() / "data/jobs" / (id + ".pdf")));
}

// The page-count probe decides what the upload hears about the document itself.
struct ProbeRow {
    const char* name;
    const char* info;
    int httpStatus;
    const char* code;
    const char* text;
};

class ProbeTest : public ServerTest, public ::testing::WithParamInterface<ProbeRow> {};

TEST_P(ProbeTest, DocumentProblemsAreRefusedAtUpload)
{
    start(config(writeEngine("engine", GetParam().info, "exit 0")));
    expectRefusal(upload(Form{}), GetParam().httpStatus, GetParam().code, GetParam().text);
    EXPECT_FALSE(std::filesystem::exists(dir() / "calls.log"));  // no conversion ran
    // Nothing of the refused upload stays behind.
    EXPECT_TRUE(std::filesystem::is_empty(dir() / "data/jobs"));
}

const ProbeRow kProbes[] = {
    {"Encrypted", R"(echo '{"error":"encrypted","message":"needs a password"}'; exit 3)", 422, "43", "password"},
    {"Damaged", R"(echo '{"error":"damaged","message":"no xref"}'; exit 3)", 422, "42", "damaged"},
    {"NotPdf", R"(echo '{"error":"not-pdf","message":"no header"}'; exit 3)", 415, "41", "not a PDF"},
    {"ProbeCrashes", "kill -SEGV $$", 422, "42", "damaged"},
    {"NoPages", R"(echo '{"pages":0}'; exit 0)", 422, "42", "damaged"},
    {"GarbledAnswer", R"(echo 'pages: 3'; exit 0)", 422, "42", "damaged"},
};
INSTANTIATE_TEST_SUITE_P(Engine, ProbeTest, ::testing::ValuesIn(kProbes),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(ServerTest, MissingEngineIsAServiceFailure)
{
    start(config(dir() / "no-such-engine"));
    expectRefusal(upload(Form{}), 500, "50", "engine");
}

TEST_F(ServerTest, DwgAcceptedUnlessSwitchedOff)
{
    start(config(goodEngine()));
    Form form;
    form.type = "1";
    std::string id = submit(form);
    EXPECT_EQ(waitForEnd(id)["status"], status::kDone);
    EXPECT_NE(client().Get("/download/" + id + ".zip")->body.find("--dwg --version 14 --pages 1-3"), std::string::npos);
}

TEST_F(ServerTest, DwgRefusedWhenSwitchedOff)
{
    ServerConfig dxfOnly = config(goodEngine());
    dxfOnly.enableDwg = false;
    start(dxfOnly);
    Form form;
    form.type = "1";
    expectRefusal(upload(form), 400, "47", "DWG output is switched off on this service; choose DXF.");
}

}  // namespace
}  // namespace unplot::server::test
