/* Floor for the reader's Vorbis path: a bare Tremor loop that decodes the
 * Vorbis stream of an Ogg file (pages of other streams are skipped) to
 * interleaved signed 16-bit PCM in a buffer, the conversion the reader does.
 *
 *   tremor_floor FILE */
#include <ogg/ogg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <tremor/ivorbiscodec.h>

#include "bench_common.h"

enum { kChunk = 4096 };

/* Not static: the stores must stay. */
int16_t pcmOut[8 * 8192];

static int16_t Clip(ogg_int32_t v) {
  const int32_t x = v >> 9;
  return (int16_t)(x > 32767 ? 32767 : (x < -32768 ? -32768 : x));
}

int main(int argc, char** argv) {
  FILE* f;
  ogg_sync_state sync;
  ogg_stream_state stream;
  ogg_page page;
  ogg_packet packet;
  vorbis_info info;
  vorbis_comment comment;
  vorbis_dsp_state dsp;
  vorbis_block block;
  int serial = -1, headers = 0;
  long long samples = 0;
  if (argc < 2) {
    fprintf(stderr, "usage: tremor_floor FILE\n");
    return 2;
  }
  f = fopen(argv[1], "rb");
  if (f == NULL) return 1;
  ogg_sync_init(&sync);
  vorbis_info_init(&info);
  vorbis_comment_init(&comment);
  for (;;) {
    if (ogg_sync_pageout(&sync, &page) != 1) {
      char* area = ogg_sync_buffer(&sync, kChunk);
      const size_t got = fread(area, 1, kChunk, f);
      if (got == 0) break;
      ogg_sync_wrote(&sync, (long)got);
      continue;
    }
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
      if (r < 0) continue;
      if (headers < 3) {
        if (vorbis_synthesis_headerin(&info, &comment, &packet) < 0) return 1;
        if (++headers == 3) {
          vorbis_synthesis_init(&dsp, &info);
          vorbis_block_init(&dsp, &block);
        }
        continue;
      }
      if (vorbis_synthesis(&block, &packet) == 0) vorbis_synthesis_blockin(&dsp, &block);
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
    }
  }
  printf("samples %lld rate %ld channels %d\n", samples, (long)info.rate, info.channels);
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
