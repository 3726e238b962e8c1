// One stream header packet per form the reader accepts, written out byte by
// byte with each group of bytes commented with its field and packet offset,
// and the values each one holds. The reader's header tests parse these
// packets; the writer's self-test must write exactly these bytes from the
// same values.
#ifndef OGMDECAPS_TESTS_SUPPORT_GOLDEN_HEADERS_H
#define OGMDECAPS_TESTS_SUPPORT_GOLDEN_HEADERS_H

#include <cstring>
#include <initializer_list>

#include "ogm_writer.h"

namespace ogmtest::golden {

// The groups one after the other.
inline Bytes Cat(std::initializer_list<Bytes> groups) {
  Bytes out;
  for (const Bytes& g : groups) out.insert(out.end(), g.begin(), g.end());
  return out;
}
// The characters of text, without a terminator.
inline Bytes Ascii(const char* text) { return Bytes(text, text + std::strlen(text)); }

// ---------------------------------------------------------------------------
// Direct form: a type byte, then the 56-byte record as stored (57 bytes, as
// ogmmerge writes it). Only the first 52 record bytes carry fields.
// ---------------------------------------------------------------------------

// MPEG-4 video, 720x576 at 23.976 frames a second.
inline StreamHeaderFields DirectVideoFields() {
  StreamHeaderFields f;
  f.subtype = "DX50";
  f.timeUnit = 417083;
  f.samplesPerUnit = 1;
  f.defaultLength = 3;
  f.bufferSize = 0x12345;
  f.bitsPerSample = 24;
  f.width = 720;
  f.height = 576;
  return f;
}
inline const Bytes kDirectVideo = Cat({
    {0x01},                                            // 0: type byte (bit 0: a header)
    {'v', 'i', 'd', 'e', 'o', 0, 0, 0},                // 1: stream type
    Ascii("DX50"),                                     // 9: subtype (fourcc)
    {0x38, 0x00, 0x00, 0x00},                          // 13: size 56
    {0x3B, 0x5D, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00},  // 17: time unit 417083 (100 ns)
    {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},  // 25: samples per unit 1
    {0x03, 0x00, 0x00, 0x00},                          // 33: default length 3
    {0x45, 0x23, 0x01, 0x00},                          // 37: buffer size 0x12345
    {0x18, 0x00},                                      // 41: bits per sample 24
    {0x00, 0x00},                                      // 43: pad
    {0xD0, 0x02, 0x00, 0x00},                          // 45: width 720
    {0x40, 0x02, 0x00, 0x00},                          // 49: height 576
    {0x00, 0x00, 0x00, 0x00},                          // 53: pad
});

// AC-3, 6 channels at 48 kHz, 448 kbit/s.
inline StreamHeaderFields DirectAudioFields() {
  StreamHeaderFields f;
  f.streamType = "audio";
  f.subtype = "2000";
  f.timeUnit = 10000000;
  f.samplesPerUnit = 48000;
  f.defaultLength = 1;
  f.bufferSize = 48000;
  f.bitsPerSample = 16;
  f.channels = 6;
  f.blockAlign = 1536;
  f.avgBytesPerSecond = 56000;
  return f;
}
inline const Bytes kDirectAudio = Cat({
    {0x01},                                            // 0: type byte
    {'a', 'u', 'd', 'i', 'o', 0, 0, 0},                // 1: stream type
    Ascii("2000"),                                     // 9: subtype (format tag in hex)
    {0x38, 0x00, 0x00, 0x00},                          // 13: size 56
    {0x80, 0x96, 0x98, 0x00, 0x00, 0x00, 0x00, 0x00},  // 17: time unit 10000000 (1 s)
    {0x80, 0xBB, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},  // 25: samples per unit 48000
    {0x01, 0x00, 0x00, 0x00},                          // 33: default length 1
    {0x80, 0xBB, 0x00, 0x00},                          // 37: buffer size 48000
    {0x10, 0x00},                                      // 41: bits per sample 16
    {0x00, 0x00},                                      // 43: pad
    {0x06, 0x00},                                      // 45: channels 6
    {0x00, 0x06},                                      // 47: block align 1536
    {0xC0, 0xDA, 0x00, 0x00},                          // 49: average bytes a second 56000
    {0x00, 0x00, 0x00, 0x00},                          // 53: pad
});

// Subtitles: times in milliseconds, no subtype.
inline StreamHeaderFields DirectTextFields() {
  StreamHeaderFields f;
  f.streamType = "text";
  f.subtype = "";
  f.timeUnit = 10000;
  f.samplesPerUnit = 1;
  f.defaultLength = 1;
  f.bufferSize = 65536;
  f.bitsPerSample = 0;
  f.width = 0;
  f.height = 0;
  return f;
}
inline const Bytes kDirectText = Cat({
    {0x01},                                            // 0: type byte
    {'t', 'e', 'x', 't', 0, 0, 0, 0},                  // 1: stream type
    {0x00, 0x00, 0x00, 0x00},                          // 9: subtype (none)
    {0x38, 0x00, 0x00, 0x00},                          // 13: size 56
    {0x10, 0x27, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},  // 17: time unit 10000 (1 ms)
    {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},  // 25: samples per unit 1
    {0x01, 0x00, 0x00, 0x00},                          // 33: default length 1
    {0x00, 0x00, 0x01, 0x00},                          // 37: buffer size 65536
    {0x00, 0x00},                                      // 41: bits per sample 0
    {0x00, 0x00},                                      // 43: pad
    {0x00, 0x00, 0x00, 0x00},                          // 45: width 0
    {0x00, 0x00, 0x00, 0x00},                          // 49: height 0
    {0x00, 0x00, 0x00, 0x00},                          // 53: pad
});

// ---------------------------------------------------------------------------
// Legacy form: "Direct Show Samples embedded in Ogg" and a serialised media
// type whose fields sit at fixed offsets; zero runs are bytes the reader
// does not read. The values are those of the record the reader makes.
// ---------------------------------------------------------------------------

// MPEG-4 video, 352x288 at 25 frames a second (184 bytes).
inline StreamHeaderFields LegacyVideoFields() {
  StreamHeaderFields f;
  f.subtype = "XVID";
  f.timeUnit = 400000;
  f.samplesPerUnit = 1;
  f.defaultLength = 1;
  f.bufferSize = 9000;
  f.bitsPerSample = 0;
  f.width = 352;
  f.height = 288;
  return f;
}
inline const Bytes kLegacyVideo = Cat({
    {0x01},                                            // 0: type byte
    Ascii("Direct Show Samples embedded in Ogg"),      // 1: magic (35 bytes)
    Bytes(4, 0),                                       // 36
    {0x28, 0x23, 0x00, 0x00},                          // 40: buffer size 9000
    Bytes(24, 0),                                      // 44
    Ascii("XVID"),                                     // 68: fourcc
    Bytes(24, 0),                                      // 72
    {0x80, 0x9F, 0x58, 0x05},                          // 96: format 0x05589F80 (video info)
    Bytes(64, 0),                                      // 100
    {0x80, 0x1A, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00},  // 164: time per frame 400000 (100 ns)
    Bytes(4, 0),                                       // 172
    {0x60, 0x01, 0x00, 0x00},                          // 176: width 352
    {0x20, 0x01, 0x00, 0x00},                          // 180: height 288
});

// AAC, stereo at 48 kHz, with its 2 bytes of codec set-up (144 bytes). The
// record's size counts the extra bytes: 56 + 2.
inline const Bytes kLegacyAudioExtra = {0x11, 0x90};
inline StreamHeaderFields LegacyAudioFields() {
  StreamHeaderFields f;
  f.streamType = "audio";
  f.subtype = "00ff";
  f.size = 58;
  f.timeUnit = 10000000;
  f.samplesPerUnit = 48000;
  f.defaultLength = 1;
  f.bufferSize = 65536;
  f.bitsPerSample = 16;
  f.channels = 2;
  f.blockAlign = 4;
  f.avgBytesPerSecond = 24000;
  return f;
}
inline const Bytes kLegacyAudio = Cat({
    {0x01},                                        // 0: type byte
    Ascii("Direct Show Samples embedded in Ogg"),  // 1: magic (35 bytes)
    Bytes(4, 0),                                   // 36
    {0x00, 0x00, 0x01, 0x00},                      // 40: buffer size 65536
    Bytes(52, 0),                                  // 44
    {0x81, 0x9F, 0x58, 0x05},                      // 96: format 0x05589F81 (wave format)
    Bytes(24, 0),                                  // 100
    {0xFF, 0x00},                                  // 124: format tag 0x00FF
    {0x02, 0x00},                                  // 126: channels 2
    {0x80, 0xBB, 0x00, 0x00},                      // 128: samples a second 48000
    {0xC0, 0x5D, 0x00, 0x00},                      // 132: average bytes a second 24000
    {0x04, 0x00},                                  // 136: block align 4
    {0x10, 0x00},                                  // 138: bits per sample 16
    {0x02, 0x00},                                  // 140: extra size 2
    kLegacyAudioExtra,                             // 142: extra bytes
});

}  // namespace ogmtest::golden

#endif
