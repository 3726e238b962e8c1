/* ffmpeg's Vorbis decoder on the same work as floor_bench's vorbis mode: the
 * Vorbis stream's packets (taken out by the floor) decoded by libavcodec and
 * converted to interleaved signed 16-bit PCM.
 *
 *   ffmpeg_vorbis FILE */
#include <libavcodec/avcodec.h>
#include <libavutil/mem.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "../floor.h"

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

/* A decoder opened on the three header packets, as Xiph-laced extradata:
 * count - 1, the sizes of the first two, the three. */
static AVCodecContext* OpenDecoder(ogg_packet* headers) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_VORBIS);
  AVCodecContext* ctx = codec != NULL ? avcodec_alloc_context3(codec) : NULL;
  long size = 1, i;
  uint8_t* p;
  if (ctx == NULL) return NULL;
  for (i = 0; i < 2; ++i) size += headers[i].bytes / 255 + 1;
  for (i = 0; i < 3; ++i) size += headers[i].bytes;
  ctx->extradata = av_mallocz((size_t)size + AV_INPUT_BUFFER_PADDING_SIZE);
  ctx->extradata_size = (int)size;
  p = ctx->extradata;
  *p++ = 2;
  for (i = 0; i < 2; ++i) {
    long n = headers[i].bytes;
    for (; n >= 255; n -= 255) *p++ = 255;
    *p++ = (uint8_t)n;
  }
  for (i = 0; i < 3; ++i) {
    memcpy(p, headers[i].packet, (size_t)headers[i].bytes);
    p += headers[i].bytes;
  }
  return avcodec_open2(ctx, codec, NULL) < 0 ? NULL : ctx;
}

int main(int argc, char** argv) {
  Floor f;
  ogg_packet headers[3], packet;
  unsigned char* copies[3] = {NULL, NULL, NULL};
  AVCodecContext* ctx = NULL;
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  uint8_t* buf = NULL;
  long bufSize = 0;
  int i;
  if (argc < 2) {
    fprintf(stderr, "usage: ffmpeg_vorbis FILE\n");
    return 2;
  }
  if (pkt == NULL || frame == NULL || !FloorOpen(&f, argv[1], 0) || !f.vorbis) return 1;
  /* libogg's packets point into its stream state: the headers are copied. */
  for (i = 0; i < 3; ++i) {
    if (!FloorAudioPacket(&f, &headers[i])) return 1;
    copies[i] = av_malloc((size_t)headers[i].bytes);
    memcpy(copies[i], headers[i].packet, (size_t)headers[i].bytes);
    headers[i].packet = copies[i];
  }
  if ((ctx = OpenDecoder(headers)) == NULL) return 1;
  while (FloorAudioPacket(&f, &packet)) {
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
  avcodec_send_packet(ctx, NULL);
  Drain(ctx, frame);
  printf("samples %lld rate %d channels %d\n", samples, rate, channels);
  FloorDumpMaps();
  avcodec_free_context(&ctx);
  av_frame_free(&frame);
  av_packet_free(&pkt);
  av_free(buf);
  for (i = 0; i < 3; ++i) av_free(copies[i]);
  FloorClose(&f);
  return 0;
}
