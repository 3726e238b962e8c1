/* Floor for the reader's Vorbis path: a bare Tremor loop that decodes the
 * Vorbis stream of an Ogg file (pages of other streams are skipped) to
 * interleaved signed 16-bit PCM in a buffer, the conversion the reader does.
 *
 *   tremor_floor FILE           the whole stream
 *   tremor_floor FILE seek N    N times: jump to a byte offset, find the next
 *                               video keyframe (stream 0) and decode Vorbis
 *                               from the pages after it up to its first PCM
 *
 * The seek targets follow the same sequence as reader_bench's. */
#include <ogg/ogg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <tremor/ivorbiscodec.h>

#include "bench_common.h"

enum { kChunk = 4096 };

/* Not static: the stores must stay. */
int16_t pcmOut[8 * 8192];

static FILE* f;
static ogg_sync_state sync;
static ogg_stream_state stream, video;
static vorbis_info info;
static vorbis_comment comment;
static vorbis_dsp_state dsp;
static vorbis_block block;
static int serial = -1, headers;

static int16_t Clip(ogg_int32_t v) {
  const int32_t x = v >> 9;
  return (int16_t)(x > 32767 ? 32767 : (x < -32768 ? -32768 : x));
}

static int NextPage(ogg_page* page) {
  while (ogg_sync_pageout(&sync, page) != 1) {
    char* area = ogg_sync_buffer(&sync, kChunk);
    const size_t got = fread(area, 1, kChunk, f);
    if (got == 0) return 0;
    ogg_sync_wrote(&sync, (long)got);
  }
  return 1;
}

/* Takes a header or decodes an audio packet; the samples it completed. */
static long Packet(ogg_packet* packet) {
  long samples = 0;
  if (headers < 3) {
    if (vorbis_synthesis_headerin(&info, &comment, packet) < 0) exit(1);
    if (++headers == 3) {
      vorbis_synthesis_init(&dsp, &info);
      vorbis_block_init(&dsp, &block);
    }
    return 0;
  }
  if (vorbis_synthesis(&block, packet) == 0) vorbis_synthesis_blockin(&dsp, &block);
  for (;;) {
    ogg_int32_t** pcm;
    int n = vorbis_synthesis_pcmout(&dsp, &pcm);
    int c, j;
    if (n <= 0) break;
    if (n > 8192) n = 8192;
    for (c = 0; c < info.channels; ++c)
      for (j = 0; j < n; ++j) pcmOut[j * info.channels + c] = Clip(pcm[c][j]);
    vorbis_synthesis_read(&dsp, n);
    samples += n;
  }
  return samples;
}

/* Pages of the Vorbis stream into its stream state, decoding each packet,
 * until the headers are in (decodeAll 0) or the file ends. */
static long long Decode(int decodeAll) {
  long long samples = 0;
  ogg_page page;
  ogg_packet packet;
  while ((decodeAll || headers < 3) && NextPage(&page)) {
    if (serial < 0) {
      /* A BOS page whose first packet is a Vorbis identification header. */
      if (!ogg_page_bos(&page) || page.body_len < 7 || memcmp(page.body, "\x01vorbis", 7) != 0)
        continue;
      serial = ogg_page_serialno(&page);
      ogg_stream_init(&stream, serial);
    }
    if (ogg_page_serialno(&page) != serial) continue;
    ogg_stream_pagein(&stream, &page);
    for (;;) {
      const int r = ogg_stream_packetout(&stream, &packet);
      if (r == 0) break;
      if (r > 0) samples += Packet(&packet);
    }
  }
  return samples;
}

static void Seeks(int count) {
  long size;
  int i, found = 0;
  fseek(f, 0, SEEK_END);
  size = ftell(f);
  ogg_stream_init(&video, 0);
  for (i = 0; i < count; ++i) {
    ogg_page page;
    ogg_packet packet;
    int keyframe = 0, pcm = 0, r;
    fseek(f, (long)((double)size * BenchSeekPercent(i) / 100.0), SEEK_SET);
    ogg_sync_reset(&sync);
    ogg_stream_reset(&video);
    while (!keyframe && NextPage(&page)) {
      if (ogg_page_serialno(&page) != 0) continue;
      ogg_stream_pagein(&video, &page);
      while (!keyframe && (r = ogg_stream_packetout(&video, &packet)) != 0)
        keyframe = r > 0 && packet.bytes > 0 && !(packet.packet[0] & 1) && (packet.packet[0] & 8);
    }
    ogg_stream_reset(&stream);
    vorbis_synthesis_restart(&dsp);
    while (keyframe && !pcm && NextPage(&page)) {
      if (ogg_page_serialno(&page) != serial) continue;
      ogg_stream_pagein(&stream, &page);
      while (!pcm && (r = ogg_stream_packetout(&stream, &packet)) != 0)
        pcm = r > 0 && Packet(&packet) > 0;
    }
    found += pcm;
  }
  ogg_stream_clear(&video);
  printf("seeks %d found %d\n", count, found);
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: tremor_floor FILE [seek N]\n");
    return 2;
  }
  f = fopen(argv[1], "rb");
  if (f == NULL) return 1;
  ogg_sync_init(&sync);
  vorbis_info_init(&info);
  vorbis_comment_init(&comment);
  if (argc >= 4 && strcmp(argv[2], "seek") == 0) {
    Decode(0);
    if (headers == 3) Seeks(atoi(argv[3]));
  } else {
    const long long samples = Decode(1);
    printf("samples %lld rate %ld channels %d\n", samples, (long)info.rate, info.channels);
  }
  BenchDumpMaps();
  if (headers == 3) {
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
  }
  if (serial >= 0) ogg_stream_clear(&stream);
  vorbis_comment_clear(&comment);
  vorbis_info_clear(&info);
  ogg_sync_clear(&sync);
  fclose(f);
  return 0;
}
