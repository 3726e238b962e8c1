/* Floor for the reader's demuxing: a bare libogg loop over an OGM file that
 * hands out every packet's payload (header byte and length bytes stripped)
 * by copying it into a buffer, as a player's reader must.
 *
 *   ogg_floor FILE                 every packet of every stream
 *   ogg_floor FILE seek N          N times: jump to a byte offset, find the
 *                                  next video keyframe and copy it out,
 *                                  then the next audio packet after it
 *
 * The seek targets follow the same sequence as reader_bench's. */
#include <ogg/ogg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bench_common.h"

enum { kChunk = 4096, kMaxStreams = 8 };

typedef struct {
  int serial;
  ogg_stream_state state;
} Stream;

static Stream streams[kMaxStreams];
static int streamCount;
/* Not static: the copies must stay. */
unsigned char out[1 << 20];

static ogg_stream_state* StreamFor(int serial) {
  int i;
  for (i = 0; i < streamCount; ++i)
    if (streams[i].serial == serial) return &streams[i].state;
  if (streamCount == kMaxStreams) return NULL;
  streams[streamCount].serial = serial;
  ogg_stream_init(&streams[streamCount].state, serial);
  return &streams[streamCount++].state;
}

/* Payload of an OGM data packet: after the header byte and its length
 * bytes. Returns its size (0 for header packets). */
static long Payload(const ogg_packet* p, const unsigned char** data) {
  int lenBytes;
  if (p->bytes < 1 || (p->packet[0] & 1)) return 0;
  lenBytes = ((p->packet[0] >> 6) & 3) | ((p->packet[0] & 2) << 1);
  if (p->bytes < 1 + lenBytes) return 0;
  *data = p->packet + 1 + lenBytes;
  return p->bytes - 1 - lenBytes;
}

static int Feed(ogg_sync_state* sync, FILE* f) {
  char* area = ogg_sync_buffer(sync, kChunk);
  size_t got = fread(area, 1, kChunk, f);
  ogg_sync_wrote(sync, (long)got);
  return got > 0;
}

static void ReadAll(FILE* f) {
  ogg_sync_state sync;
  ogg_page page;
  ogg_packet packet;
  long packets = 0, bytes = 0;
  ogg_sync_init(&sync);
  for (;;) {
    if (ogg_sync_pageout(&sync, &page) != 1) {
      if (!Feed(&sync, f)) break;
      continue;
    }
    ogg_stream_state* s = StreamFor(ogg_page_serialno(&page));
    if (s == NULL) continue;
    ogg_stream_pagein(s, &page);
    while (ogg_stream_packetout(s, &packet) == 1) {
      const unsigned char* data;
      long n = Payload(&packet, &data);
      if (n > 0 && n <= (long)sizeof out) memcpy(out, data, (size_t)n);
      ++packets;
      bytes += n;
    }
  }
  ogg_sync_clear(&sync);
  printf("packets %ld payload %ld\n", packets, bytes);
}

static void Seeks(FILE* f, int count) {
  ogg_sync_state sync;
  ogg_page page;
  ogg_packet packet;
  long size;
  int i, found = 0;
  ogg_stream_state* last;
  fseek(f, 0, SEEK_END);
  size = ftell(f);
  ogg_sync_init(&sync);
  for (i = 0; i < count; ++i) {
    int done = 0;
    fseek(f, (long)((double)size * BenchSeekPercent(i) / 100.0), SEEK_SET);
    ogg_sync_reset(&sync);
    ogg_stream_reset(StreamFor(0));
    while (!done) {
      if (ogg_sync_pageout(&sync, &page) != 1) {
        if (!Feed(&sync, f)) break;
        continue;
      }
      if (ogg_page_serialno(&page) != 0) continue;
      ogg_stream_pagein(StreamFor(0), &page);
      while (!done) {
        const unsigned char* data;
        long n;
        const int r = ogg_stream_packetout(StreamFor(0), &packet);
        if (r == 0) break;
        if (r < 0 || packet.bytes < 1 || (packet.packet[0] & 1) || !(packet.packet[0] & 8))
          continue;
        n = Payload(&packet, &data);
        if (n > 0 && n <= (long)sizeof out) memcpy(out, data, (size_t)n);
        done = 1;
        ++found;
      }
    }
    /* The audio: the first packet of another stream from the pages after. */
    for (done = 0, last = NULL; !done;) {
      ogg_stream_state* s;
      if (ogg_sync_pageout(&sync, &page) != 1) {
        if (!Feed(&sync, f)) break;
        continue;
      }
      if (ogg_page_serialno(&page) == 0 || (s = StreamFor(ogg_page_serialno(&page))) == NULL)
        continue;
      if (s != last) ogg_stream_reset(s);
      last = s;
      ogg_stream_pagein(s, &page);
      while (!done && ogg_stream_packetout(s, &packet) == 1) {
        const unsigned char* data;
        const long n = Payload(&packet, &data);
        if (n > 0 && n <= (long)sizeof out) memcpy(out, data, (size_t)n);
        done = n > 0;
      }
    }
  }
  ogg_sync_clear(&sync);
  printf("seeks %d keyframes %d\n", count, found);
}

int main(int argc, char** argv) {
  FILE* f;
  if (argc < 2) {
    fprintf(stderr, "usage: ogg_floor FILE [seek N]\n");
    return 2;
  }
  f = fopen(argv[1], "rb");
  if (f == NULL) return 1;
  if (argc >= 4 && strcmp(argv[2], "seek") == 0) {
    Seeks(f, atoi(argv[3]));
  } else {
    ReadAll(f);
  }
  BenchDumpMaps();
  fclose(f);
  return 0;
}
