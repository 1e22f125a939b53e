// The frame classifier: finds the signs of a bot in one Ethernet frame (outgoing DNS queries,
// incoming HTTP requests, outgoing SMTP greetings, outgoing IRC commands and dot-commands from
// a known IRC server) and records them in the result store. Live capture calls it without a
// trace; capture-file analysis with a trace file that gets one line per frame.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

class CTraceFile;

// Live records carry 1464 bytes and every frame is classified as 1462 bytes long; capture-file
// frames sit in a 4096-byte buffer.
inline constexpr size_t kLiveFrameBufferSize = 1464;
inline constexpr int32_t kLiveFrameLength = 1462;
inline constexpr size_t kCaptureFrameBufferSize = 4096;

// Frames that are not IPv4; it only feeds trace lines.
extern std::atomic<int32_t> g_nNonIpFrames;

// Builds the IRC command word set; the classifier builds it on first use otherwise.
void InitIrcCommandSet();

// buffer: the caller's frame buffer, whose bytes the classifier may change (ports are turned
// to host order in place); length: the frame's length. Fields are read at fixed offsets inside
// buffer whatever the length says; nothing outside buffer is read, bytes beyond it count as 0.
void ClassifyFrame(std::span<uint8_t> buffer, int32_t length, int32_t iIO, CTraceFile* trace);

// The question name at the start of bytes, labels joined by ".", at most 63 characters.
// Length bytes are plain counts; bytes beyond the span count as 0.
std::string DecodeDnsName(std::span<const uint8_t> bytes);

// available: how many bytes from payload lie inside the frame buffer.
bool IsHttpRequestText(const uint8_t* payload, size_t available);
bool IsSmtpHello(const uint8_t* payload, size_t available);
bool IsIRCRequest(const uint8_t* payload, int32_t length);

// Steps over one IRC message; false when there is none left. text receives the message's text
// (after its trailing-parameter colon, up to and including its line feed).
bool NextIrcMessage(const uint8_t*& cursor, const uint8_t* end, std::string_view& text);

// Records every dot-command piece of the payload with the server; true when a message text
// began with ".". server: the frame's four source address bytes read as a little-endian value.
bool IsBotCmd(const uint8_t* payload, int32_t length, uint32_t server);
