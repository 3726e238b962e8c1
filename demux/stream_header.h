// The Ogg Media stream header: what a logical stream carries and how its
// granule positions turn into time. Two packet forms are read: the direct
// form (type byte, then the 56-byte record as stored) and the legacy
// "Direct Show Samples embedded in Ogg" form (a serialised media type).
#ifndef OGMDECAPS_DEMUX_STREAM_HEADER_H
#define OGMDECAPS_DEMUX_STREAM_HEADER_H

#include <cstddef>
#include <cstdint>

// Decoded record. Byte offsets in the comments are those of the stored form;
// width/height and channels/blockAlign/avgBytesPerSecond share bytes 44..51,
// and a direct header fills both views from them.
struct StreamHeader {
  char streamType[8] = {};        // 0: "video", "audio" or "text", zero-padded
  char subtype[4] = {};           // 8: video fourcc; audio tag as 4 hex digits
  int32_t size = 56;              // 12: record size, extra bytes included
  int64_t timeUnit = 0;           // 16: 100-ns units per time unit
  int64_t samplesPerUnit = 0;     // 24: granule steps per time unit
  int32_t defaultLength = 0;      // 32: granule steps of a packet without length bytes
  int32_t bufferSize = 0;         // 36
  int16_t bitsPerSample = 0;      // 40
  int32_t width = 0;              // 44 (video)
  int32_t height = 0;             // 48 (video)
  int16_t channels = 0;           // 44 (audio)
  int16_t blockAlign = 0;         // 46 (audio)
  int32_t avgBytesPerSecond = 0;  // 48 (audio)
  uint8_t* extra = nullptr;       // 56..: legacy audio format bytes, or the direct
  int32_t extraSize = 0;          //       header's bytes after the record (owned)
};

constexpr size_t kStreamHeaderBytes = 56;
constexpr size_t kDirectHeaderCopy = 100;  // packet bytes 1..100 are kept
constexpr char kLegacyMagic[] = "Direct Show Samples embedded in Ogg";
constexpr size_t kLegacyMagicLength = 35;
constexpr uint32_t kLegacyVideoInfo = 0x05589F80;
constexpr uint32_t kLegacyWaveFormat = 0x05589F81;

// Classifies the first packet of a stream and builds its record.
// 0: a record was made and stored through *out (or, for a packet whose low
//    three type bits are 101, nothing was made and *out is untouched);
// DECAPS_ERR_NOT_HEADER: bit 0 of the type byte is clear, or a legacy packet
//    whose type bits are not 001; *out untouched;
// DECAPS_ERR_UNSUPPORTED_STREAM: any other packet, including one too short
//    for the fields its form needs; *out set to null;
// DECAPS_ERR_OUT_OF_MEMORY: no memory for the record; *out set to null.
int32_t ParseStreamHeader(const uint8_t* packet, size_t bytes, StreamHeader** out);

// The legacy branch of ParseStreamHeader; same results.
int32_t ParseLegacyHeader(const uint8_t* packet, size_t bytes, StreamHeader** out);

// Build records; 0, or DECAPS_ERR_OUT_OF_MEMORY (*out null).
int32_t MakeVideoHeader(const uint8_t fourcc[4], int64_t timePerFrame, int32_t width,
                        int32_t height, int16_t bitsPerSample, int32_t bufferSize,
                        StreamHeader** out);
int32_t MakeAudioHeader(uint16_t formatTag, int16_t channels, int16_t blockAlign,
                        int32_t avgBytesPerSecond, int32_t samplesPerSecond, int16_t bitsPerSample,
                        const uint8_t* extra, uint16_t extraSize, int32_t bufferSize,
                        StreamHeader** out);

// Zeroes the record's fields and sets size to 56; extra bytes stay owned.
void ClearStreamHeader(StreamHeader& header);

// Releases a record made by the functions above; null is ignored.
void FreeStreamHeader(StreamHeader* header);

// True when the record's stream kind is exactly "video".
bool IsVideoHeader(const StreamHeader& header);

// True when granule positions of this stream can be turned into time.
bool HasUsableTiming(const StreamHeader& header);

#endif
