/* ffmpeg's Vorbis decoder on the same work as tremor_floor: the Vorbis
 * stream of an Ogg file (demuxed with libogg, other streams skipped) decoded
 * by libavcodec and converted to interleaved signed 16-bit PCM.
 *
 *   ffmpeg_vorbis FILE */
#include <libavcodec/avcodec.h>
#include <libavutil/mem.h>
#include <ogg/ogg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "bench_common.h"

enum { kChunk = 4096 };

/* Not static: the stores must stay. */
int16_t pcmOut[8 * 8192];

static long long samples;
static int channels;
static int rate;

static int Drain(AVCodecContext* ctx, AVFrame* frame) {
  while (avcodec_receive_frame(ctx, frame) == 0) {
    const int n = frame->nb_samples > 8192 ? 8192 : frame->nb_samples;
    int c, j;
    channels = frame->ch_layout.nb_channels;
    rate = frame->sample_rate;
    if (frame->format != AV_SAMPLE_FMT_FLTP || channels > 8) return -1;
    for (c = 0; c < channels; ++c) {
      const float* src = (const float*)frame->extended_data[c];
      for (j = 0; j < n; ++j) {
        const int v = (int)(src[j] * 32768.0f);
        pcmOut[j * channels + c] = (int16_t)(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
      }
    }
    samples += frame->nb_samples;
  }
  return 0;
}

int main(int argc, char** argv) {
  FILE* f;
  ogg_sync_state sync;
  ogg_stream_state stream;
  ogg_page page;
  ogg_packet packet;
  unsigned char* headers[3] = {NULL, NULL, NULL};
  long headerBytes[3] = {0, 0, 0};
  int serial = -1, headerCount = 0;
  AVCodecContext* ctx = NULL;
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  uint8_t* buf = NULL;
  long bufSize = 0;
  if (argc < 2) {
    fprintf(stderr, "usage: ffmpeg_vorbis FILE\n");
    return 2;
  }
  f = fopen(argv[1], "rb");
  if (f == NULL || pkt == NULL || frame == NULL) return 1;
  ogg_sync_init(&sync);
  for (;;) {
    if (ogg_sync_pageout(&sync, &page) != 1) {
      char* area = ogg_sync_buffer(&sync, kChunk);
      const size_t got = fread(area, 1, kChunk, f);
      if (got == 0) break;
      ogg_sync_wrote(&sync, (long)got);
      continue;
    }
    if (serial < 0) {
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
      if (headerCount < 3) {
        headers[headerCount] = av_malloc((size_t)packet.bytes);
        memcpy(headers[headerCount], packet.packet, (size_t)packet.bytes);
        headerBytes[headerCount++] = packet.bytes;
        if (headerCount == 3) {
          /* Xiph-laced extradata: count - 1, the sizes of the first two, the three. */
          const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_VORBIS);
          long size = 1, i;
          uint8_t* p;
          for (i = 0; i < 2; ++i) size += headerBytes[i] / 255 + 1;
          size += headerBytes[0] + headerBytes[1] + headerBytes[2];
          ctx = avcodec_alloc_context3(codec);
          if (codec == NULL || ctx == NULL) return 1;
          ctx->extradata = av_mallocz((size_t)size + AV_INPUT_BUFFER_PADDING_SIZE);
          ctx->extradata_size = (int)size;
          p = ctx->extradata;
          *p++ = 2;
          for (i = 0; i < 2; ++i) {
            long n = headerBytes[i];
            for (; n >= 255; n -= 255) *p++ = 255;
            *p++ = (uint8_t)n;
          }
          for (i = 0; i < 3; ++i) {
            memcpy(p, headers[i], (size_t)headerBytes[i]);
            p += headerBytes[i];
          }
          if (avcodec_open2(ctx, codec, NULL) < 0) return 1;
        }
        continue;
      }
      if (packet.bytes + AV_INPUT_BUFFER_PADDING_SIZE > bufSize) {
        av_free(buf);
        bufSize = packet.bytes + AV_INPUT_BUFFER_PADDING_SIZE;
        buf = av_mallocz((size_t)bufSize);
      }
      memcpy(buf, packet.packet, (size_t)packet.bytes);
      memset(buf + packet.bytes, 0, AV_INPUT_BUFFER_PADDING_SIZE);
      pkt->data = buf;
      pkt->size = (int)packet.bytes;
      if (avcodec_send_packet(ctx, pkt) < 0) continue;
      if (Drain(ctx, frame) < 0) return 1;
    }
  }
  if (ctx != NULL) {
    avcodec_send_packet(ctx, NULL);
    Drain(ctx, frame);
  }
  printf("samples %lld rate %d channels %d\n", samples, rate, channels);
  BenchDumpMaps();
  avcodec_free_context(&ctx);
  av_frame_free(&frame);
  av_packet_free(&pkt);
  av_free(buf);
  for (int i = 0; i < 3; ++i) av_free(headers[i]);
  if (serial >= 0) ogg_stream_clear(&stream);
  ogg_sync_clear(&sync);
  fclose(f);
  return 0;
}
