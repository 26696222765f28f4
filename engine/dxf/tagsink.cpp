#include "tagsink.h"

#include <charconv>
#include <cmath>

namespace unplot::engine::dxf {

std::string_view formatDouble(double value, char (&buffer)[400], bool exact)
{
    if (!std::isfinite(value) || (exact && std::fabs(value) < 1e-12))
        value = 0;
    auto [end, ec] = exact ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed)
                           : std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 9);
    if (ec != std::errc()) // cannot happen for finite doubles in 400 characters; stay safe anyway
        return "0.0";
    char* dot = buffer;
    while (dot < end && *dot != '.')
        ++dot;
    if (dot == end) {
        *end++ = '.';
        *end++ = '0';
    } else {
        while (end > dot + 2 && end[-1] == '0')
            --end;
    }
    std::string_view text(buffer, std::size_t(end - buffer));
    if (text == "-0.0")
        return text.substr(1);
    return text;
}

void TagSink::tag(int code, double value)
{
    char buffer[400];
    tag(code, formatDouble(value, buffer));
}

void TagSink::exactTag(int code, double value)
{
    char buffer[400];
    tag(code, formatDouble(value, buffer, true));
}

void TagSink::tag(int code, int value)
{
    char buffer[16];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    tag(code, std::string_view(buffer, std::size_t(end - buffer)));
}

void TagSink::handle(int code, std::uint64_t value)
{
    char buffer[20];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, 16);
    for (char* c = buffer; c != end; ++c)
        if (*c >= 'a' && *c <= 'f')
            *c = char(*c - 'a' + 'A');
    tag(code, std::string_view(buffer, std::size_t(end - buffer)));
}

void TagSink::point(int baseCode, double x, double y)
{
    tag(baseCode, x);
    tag(baseCode + 10, y);
}

void TagSink::point3(int baseCode, double x, double y, double z)
{
    tag(baseCode, x);
    tag(baseCode + 10, y);
    tag(baseCode + 20, z);
}

namespace {
constexpr std::size_t kFlushSize = 1 << 16;
}

StreamTagSink::StreamTagSink(std::ostream& out) : out_(out)
{
    buffer_.reserve(kFlushSize + 512);
}

StreamTagSink::~StreamTagSink()
{
    flush();
}

void StreamTagSink::tag(int code, std::string_view value)
{
    // Group codes right-aligned in three columns, as CAD programs write them.
    char digits[16];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, code);
    const auto length = std::size_t(end - digits);
    if (length < 3)
        buffer_.append(3 - length, ' ');
    buffer_.append(digits, length);
    buffer_ += '\n';
    buffer_.append(value);
    buffer_ += '\n';
    if (buffer_.size() >= kFlushSize)
        flush();
}

void StreamTagSink::flush()
{
    if (!buffer_.empty()) {
        out_.write(buffer_.data(), std::streamsize(buffer_.size()));
        buffer_.clear();
    }
}

} // namespace unplot::engine::dxf
