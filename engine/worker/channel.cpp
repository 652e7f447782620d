#include "engine/worker/channel.h"

#include <cstring>

namespace tallo::engine::worker {

namespace {

constexpr std::size_t kHeader = 5;  // kind, payload length (4 bytes)
// A frame longer than this is not one the worker sends.
constexpr std::uint32_t kMaxPayload = 1u << 30;

void PutU32(std::string& out, std::uint32_t v) {
    char b[4];
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    out.append(b, 4);
}

void PutU64(std::string& out, std::uint64_t v) {
    PutU32(out, static_cast<std::uint32_t>(v));
    PutU32(out, static_cast<std::uint32_t>(v >> 32));
}

std::uint32_t GetU32(const char* p) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(p[i]);
    return v;
}

std::uint64_t GetU64(const char* p) {
    return GetU32(p) | (static_cast<std::uint64_t>(GetU32(p + 4)) << 32);
}

// A text cut at its first NUL: the callback would see no more of it.
std::string_view UpToNul(std::string_view text) {
    const void* nul = std::memchr(text.data(), '\0', text.size());
    return nul ? text.substr(0, static_cast<const char*>(nul) - text.data()) : text;
}

// Starts a frame whose payload is `size` bytes.
void Begin(std::string& out, FrameKind kind, std::size_t size) {
    if (size > kMaxPayload)
        throw std::length_error("a report is too long for the worker's channel");
    out.push_back(static_cast<char>(kind));
    PutU32(out, static_cast<std::uint32_t>(size));
}

void PutText(std::string& out, std::string_view text) {
    out.append(text);
    out.push_back('\0');
}

// The payload's first zero-terminated text from `at`; `at` moves past it.
const char* TakeText(const char* payload, std::size_t size, std::size_t& at) {
    const void* nul = std::memchr(payload + at, '\0', size - at);
    if (nul == nullptr)
        throw ChannelBroken("the worker sent a text without its end");
    const char* text = payload + at;
    at = static_cast<std::size_t>(static_cast<const char*>(nul) - payload) + 1;
    return text;
}

}  // namespace

void AppendError(std::string& out, std::string_view message, std::string_view where) {
    message = UpToNul(message);
    where = UpToNul(where);
    Begin(out, FrameKind::Error, message.size() + where.size() + 2);
    PutText(out, message);
    PutText(out, where);
}

void AppendText(std::string& out, FrameKind kind, std::string_view text) {
    text = UpToNul(text);
    Begin(out, kind, text.size() + 1);
    PutText(out, text);
}

void AppendExecuting(std::string& out, std::uint64_t index, std::uint64_t total, std::uint32_t line,
                     std::string_view file) {
    file = UpToNul(file);
    Begin(out, FrameKind::Executing, 20 + file.size() + 1);
    PutU64(out, index);
    PutU64(out, total);
    PutU32(out, line);
    PutText(out, file);
}

void AppendDone(std::string& out, std::int32_t errors) {
    Begin(out, FrameKind::Done, 4);
    PutU32(out, static_cast<std::uint32_t>(errors));
}

bool NextFrame(std::string_view buffer, std::size_t& offset, Frame& frame) {
    if (buffer.size() - offset < kHeader)
        return false;
    const char* head = buffer.data() + offset;
    const std::uint32_t size = GetU32(head + 1);
    if (size > kMaxPayload)
        throw ChannelBroken("the worker sent a frame of " + std::to_string(size) + " bytes");
    if (buffer.size() - offset - kHeader < size)
        return false;
    const char* payload = head + kHeader;
    frame = Frame{};
    frame.kind = static_cast<FrameKind>(head[0]);
    std::size_t at = 0;
    switch (frame.kind) {
        case FrameKind::Error:
            frame.first = TakeText(payload, size, at);
            frame.second = TakeText(payload, size, at);
            break;
        case FrameKind::Status:
        case FrameKind::Statement:
            frame.first = TakeText(payload, size, at);
            break;
        case FrameKind::Executing:
            if (size < 21)
                throw ChannelBroken("the worker sent a short statement frame");
            frame.index = GetU64(payload);
            frame.total = GetU64(payload + 8);
            frame.line = GetU32(payload + 16);
            at = 20;
            frame.first = TakeText(payload, size, at);
            break;
        case FrameKind::Done:
            if (size != 4)
                throw ChannelBroken("the worker sent a bad end frame");
            frame.errors = static_cast<std::int32_t>(GetU32(payload));
            at = 4;
            break;
        default:
            throw ChannelBroken("the worker sent a frame of unknown kind " +
                                std::to_string(static_cast<unsigned char>(head[0])));
    }
    if (at != size)
        throw ChannelBroken("the worker sent a frame with bytes to spare");
    offset += kHeader + size;
    return true;
}

std::string LengthPrefix(std::uint64_t length) {
    std::string out;
    PutU64(out, length);
    return out;
}

std::uint64_t ReadLengthPrefix(const char (&bytes)[8]) {
    return GetU64(bytes);
}

}  // namespace tallo::engine::worker
