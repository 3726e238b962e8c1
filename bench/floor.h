/* The bare floor every benchmark measures the reader against: what a plain
 * libogg loop (and Tremor, for Vorbis) costs for the same work. Pages come
 * in 4096-byte reads, as the reader reads them. Plain C, so the native
 * benchmarks and the armel programs of bench/qemu link the same code. */
#ifndef OGMDECAPS_BENCH_FLOOR_H
#define OGMDECAPS_BENCH_FLOOR_H

#include <ogg/ogg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <tremor/ivorbiscodec.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- every page and packet ---- */

enum {
  kFloorCopy = 1,       /* copy each data packet's payload out, as a reader hands it on */
  kFloorFirstStream = 2 /* the first stream's pages only; the others are passed over */
};

typedef struct {
  long long packets;   /* every packet taken out */
  long long frames;    /* data packets of the first stream (its video frames in an OGM) */
  long long bytesRead; /* from the file */
} FloorCounts;

/* Every page into its stream and every packet out, flags as above. 1 done,
 * 0 the file could not be opened. */
int FloorDemux(const char* path, int flags, FloorCounts* counts);

/* ---- video and audio ---- */

typedef struct {
  int fd;
  long long bytesRead;
  ogg_sync_state sync;
  ogg_stream_state video, audio;
  int videoSerial, audioSerial; /* -1: none */
  int vorbis;                   /* the audio stream is Vorbis */
  int decoding;                 /* its headers are in and Tremor is ready */
  vorbis_info vi;
  vorbis_comment vc;
  vorbis_dsp_state vd;
  vorbis_block vb;
  int16_t* pcm;           /* the last batch decoded, interleaved */
  unsigned char* payload; /* the last payload copied */
} Floor;

/* Opens path and finds the first video stream and the first audio stream
 * (Vorbis or OGM audio) on the first pages. decode: also takes the Vorbis
 * headers and readies Tremor. 1 when an audio stream was found (and, with
 * decode, its headers taken); FloorClose in every case. */
int FloorOpen(Floor* f, const char* path, int decode);
void FloorClose(Floor* f);

/* The next page, bytes before it skipped: 1, or 0 at the end of the file. */
int FloorNextPage(Floor* f, ogg_page* page);

/* The next packet of the audio stream: 1, or 0 at the end of the file. */
int FloorAudioPacket(Floor* f, ogg_packet* packet);

/* What a reader does with one audio packet: Vorbis decoded into f->pcm
 * (Tremor's 24-bit output >> 9, clipped to 16 bits), raw audio's payload
 * copied into f->payload. The bytes it produced (0 for a header packet). */
long FloorAudio(Floor* f, ogg_packet* packet);

/* Every audio packet from here on, each one's bytes handed to sink (when
 * given), until the end or until limitBytes (when > 0) were produced.
 * Returns the bytes produced. */
typedef void (*FloorSink)(void* context, const void* data, long bytes);
long long FloorReadAudio(Floor* f, long long limitBytes, FloorSink sink, void* context);

/* The least a reader does for a seek to a byte offset: the first video
 * keyframe beginning on a page at or after it, copied out, then the audio
 * from there up to its first PCM (raw audio: its first packet). 1 when both
 * were found. */
int FloorSeek(Floor* f, long long offset);

/* ---- what the seek benchmarks share ---- */

/* Percent positions spread over 3..95 without repeating soon. */
static inline int FloorSeekPercent(int i) { return 3 + (i * 37) % 93; }

/* With BENCH_MAPS=FILE in the environment, copies the program's memory map
 * there (under qemu-arm: the guest's), for bench/qemu/profile.sh. */
static inline void FloorDumpMaps(void) {
  const char* path = getenv("BENCH_MAPS");
  FILE *in, *out;
  int c;
  if (path == NULL || *path == 0) return;
  in = fopen("/proc/self/maps", "r");
  out = fopen(path, "w");
  if (in != NULL && out != NULL)
    while ((c = getc(in)) != EOF) putc(c, out);
  if (in != NULL) fclose(in);
  if (out != NULL) fclose(out);
}

#ifdef __cplusplus
}
#endif

#endif
