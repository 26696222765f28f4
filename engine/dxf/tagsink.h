#pragma once
// Where DXF group tags go: a stream (the file being written) or a list (tests compare (code, value) pairs).
// Every number is formatted here, in one place, locale-free.

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace unplot::engine::dxf {

class TagSink {
public:
    virtual ~TagSink() = default;

    // The one primitive: a group code and its value as it appears in the file (already encoded for the version).
    virtual void tag(int code, std::string_view value) = 0;

    void tag(int code, const char* value) { tag(code, std::string_view(value)); }
    void tag(int code, const std::string& value) { tag(code, std::string_view(value)); }
    void tag(int code, double value);
    void tag(int code, int value);
    // A number written so that it reads back as the same double (parameters in radians, ratios: 2pi must stay 2pi).
    void exactTag(int code, double value);
    // A handle or a handle reference: upper-case hexadecimal.
    void handle(int code, std::uint64_t value);
    // baseCode for x, baseCode + 10 for y (and baseCode + 20 for z in point3).
    void point(int baseCode, double x, double y);
    void point3(int baseCode, double x, double y, double z);
};

// Writes "code\nvalue\n" lines through a buffer into a stream.
class StreamTagSink final : public TagSink {
public:
    explicit StreamTagSink(std::ostream& out);
    ~StreamTagSink() override;
    StreamTagSink(const StreamTagSink&) = delete;
    StreamTagSink& operator=(const StreamTagSink&) = delete;

    using TagSink::tag;
    void tag(int code, std::string_view value) override;
    // Hands the buffered bytes to the stream (also done when destroyed).
    void flush();

private:
    std::ostream& out_;
    std::string buffer_;
};

// Keeps every tag, for tests.
class CollectingTagSink final : public TagSink {
public:
    using TagSink::tag;
    void tag(int code, std::string_view value) override { tags.emplace_back(code, std::string(value)); }

    std::vector<std::pair<int, std::string>> tags;
};

// The text of a floating-point group value: fixed notation, at most 9 decimals (1e-9 mm) or, when `exact`, the
// shortest text that reads back as the same double (values below 1e-12 as 0); at least one decimal; never "nan",
// "inf" or "-0.0" (non-finite values are written as 0.0). Returns the used part of `buffer`.
std::string_view formatDouble(double value, char (&buffer)[400], bool exact = false);

} // namespace unplot::engine::dxf
