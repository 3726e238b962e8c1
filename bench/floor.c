#include "floor.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

enum {
  kReadBytes = 4096,
  kMaxStreams = 16,
  kPcmSamples = 8 * 8192,  /* one packet's PCM: up to 8 channels of a long block */
  kPayloadBytes = 8 << 20, /* the largest payload copied out */
};

/* Not static, and written through from the loops: the copies must stay. */
unsigned char* floorDemuxOut;

static int NextPage(int fd, ogg_sync_state* sync, ogg_page* page, long long* bytesRead) {
  for (;;) {
    char* area;
    ssize_t got;
    const int r = ogg_sync_pageout(sync, page);
    if (r > 0) return 1;
    if (r < 0) continue;
    area = ogg_sync_buffer(sync, kReadBytes);
    got = read(fd, area, kReadBytes);
    if (got <= 0) return 0;
    ogg_sync_wrote(sync, (long)got);
    *bytesRead += got;
  }
}

/* An OGM data packet's payload (after its header byte and length bytes)
 * copied to out; its size, 0 for a header packet. */
static long Payload(const ogg_packet* p, unsigned char* out) {
  int lenBytes;
  long n;
  if (p->bytes < 1 || (p->packet[0] & 1)) return 0;
  lenBytes = ((p->packet[0] >> 6) & 3) | ((p->packet[0] & 2) << 1);
  if (p->bytes < 1 + lenBytes) return 0;
  n = p->bytes - 1 - lenBytes;
  if (n > kPayloadBytes) n = kPayloadBytes;
  memcpy(out, p->packet + 1 + lenBytes, (size_t)n);
  return n;
}

int FloorDemux(const char* path, int flags, FloorCounts* counts) {
  struct {
    int serial;
    ogg_stream_state state;
  } streams[kMaxStreams];
  int streamCount = 0, i;
  ogg_sync_state sync;
  ogg_page page;
  ogg_packet packet;
  const int fd = open(path, O_RDONLY);
  memset(counts, 0, sizeof *counts);
  if (fd < 0) return 0;
  if ((flags & kFloorCopy) && floorDemuxOut == NULL) floorDemuxOut = malloc(kPayloadBytes);
  ogg_sync_init(&sync);
  while (NextPage(fd, &sync, &page, &counts->bytesRead)) {
    const int serial = ogg_page_serialno(&page);
    for (i = 0; i < streamCount && streams[i].serial != serial; ++i) {
    }
    if (i == streamCount) {
      if (streamCount == kMaxStreams || (streamCount == 1 && (flags & kFloorFirstStream))) continue;
      streams[streamCount].serial = serial;
      ogg_stream_init(&streams[streamCount++].state, serial);
    }
    ogg_stream_pagein(&streams[i].state, &page);
    while (ogg_stream_packetout(&streams[i].state, &packet) == 1) {
      ++counts->packets;
      if (i == 0 && packet.bytes > 0 && !(packet.packet[0] & 1)) ++counts->frames;
      if (flags & kFloorCopy) Payload(&packet, floorDemuxOut);
    }
  }
  for (i = 0; i < streamCount; ++i) ogg_stream_clear(&streams[i].state);
  ogg_sync_clear(&sync);
  close(fd);
  return 1;
}

static int Starts(const ogg_page* page, const char* tag, long n) {
  return page->body_len >= n && memcmp(page->body, tag, (size_t)n) == 0;
}

int FloorOpen(Floor* f, const char* path, int decode) {
  ogg_page page;
  ogg_packet packet;
  int i;
  memset(f, 0, sizeof *f);
  f->videoSerial = f->audioSerial = -1;
  ogg_sync_init(&f->sync);
  vorbis_info_init(&f->vi);
  vorbis_comment_init(&f->vc);
  f->payload = malloc(kPayloadBytes);
  f->fd = open(path, O_RDONLY);
  if (f->fd < 0 || f->payload == NULL) return 0;
  /* The streams begin on the first pages, one each. */
  while (FloorNextPage(f, &page)) {
    const int serial = ogg_page_serialno(&page);
    if (ogg_page_bos(&page) && f->audioSerial < 0 &&
        (Starts(&page, "\001vorbis", 7) || Starts(&page, "\001audio", 6))) {
      f->audioSerial = serial;
      f->vorbis = Starts(&page, "\001vorbis", 7);
      ogg_stream_init(&f->audio, serial);
    } else if (ogg_page_bos(&page) && f->videoSerial < 0 && Starts(&page, "\001video", 6)) {
      f->videoSerial = serial;
      ogg_stream_init(&f->video, serial);
    }
    if (serial == f->audioSerial) ogg_stream_pagein(&f->audio, &page);
    if (serial == f->videoSerial) ogg_stream_pagein(&f->video, &page);
    if (!ogg_page_bos(&page)) break;
  }
  if (f->audioSerial < 0) return 0;
  if (!decode || !f->vorbis) return 1;
  for (i = 0; i < 3; ++i)
    if (!FloorAudioPacket(f, &packet) || vorbis_synthesis_headerin(&f->vi, &f->vc, &packet) != 0)
      return 0;
  f->pcm = malloc(kPcmSamples * sizeof *f->pcm);
  if (f->pcm == NULL) return 0;
  vorbis_synthesis_init(&f->vd, &f->vi);
  vorbis_block_init(&f->vd, &f->vb);
  f->decoding = 1;
  return 1;
}

void FloorClose(Floor* f) {
  if (f->decoding) {
    vorbis_block_clear(&f->vb);
    vorbis_dsp_clear(&f->vd);
  }
  vorbis_comment_clear(&f->vc);
  vorbis_info_clear(&f->vi);
  if (f->videoSerial >= 0) ogg_stream_clear(&f->video);
  if (f->audioSerial >= 0) ogg_stream_clear(&f->audio);
  ogg_sync_clear(&f->sync);
  if (f->fd >= 0) close(f->fd);
  free(f->pcm);
  free(f->payload);
  memset(f, 0, sizeof *f);
  f->fd = -1;
}

int FloorNextPage(Floor* f, ogg_page* page) {
  return NextPage(f->fd, &f->sync, page, &f->bytesRead);
}

int FloorAudioPacket(Floor* f, ogg_packet* packet) {
  ogg_page page;
  if (f->audioSerial < 0) return 0;
  for (;;) {
    const int r = ogg_stream_packetout(&f->audio, packet);
    if (r > 0) return 1;
    if (r < 0) continue; /* a gap: go on after it */
    do {
      if (!FloorNextPage(f, &page)) return 0;
    } while (ogg_page_serialno(&page) != f->audioSerial);
    ogg_stream_pagein(&f->audio, &page);
  }
}

static int16_t Clip(ogg_int32_t v) {
  const int32_t x = v >> 9;
  return (int16_t)(x > 32767 ? 32767 : (x < -32768 ? -32768 : x));
}

long FloorAudio(Floor* f, ogg_packet* packet) {
  ogg_int32_t** pcm;
  int channels, most, samples = 0, n, c, j;
  if (!f->vorbis) return Payload(packet, f->payload);
  if (!f->decoding) return 0;
  if (vorbis_synthesis(&f->vb, packet) == 0) vorbis_synthesis_blockin(&f->vd, &f->vb);
  channels = f->vi.channels;
  most = kPcmSamples / channels;
  while (samples < most && (n = vorbis_synthesis_pcmout(&f->vd, &pcm)) > 0) {
    int16_t* out = f->pcm + (long)samples * channels;
    if (n > most - samples) n = most - samples;
    for (c = 0; c < channels; ++c)
      for (j = 0; j < n; ++j) out[j * channels + c] = Clip(pcm[c][j]);
    vorbis_synthesis_read(&f->vd, n);
    samples += n;
  }
  return 2L * samples * channels;
}

long long FloorReadAudio(Floor* f, long long limitBytes, FloorSink sink, void* context) {
  long long total = 0;
  ogg_packet packet;
  while ((limitBytes <= 0 || total < limitBytes) && FloorAudioPacket(f, &packet)) {
    const long n = FloorAudio(f, &packet);
    if (n > 0 && sink != NULL) sink(context, f->vorbis ? (const void*)f->pcm : f->payload, n);
    total += n;
  }
  return total;
}

int FloorSeek(Floor* f, long long offset) {
  ogg_page page;
  ogg_packet packet;
  int keyframe = 0, r;
  if (f->videoSerial < 0 || f->audioSerial < 0) return 0;
  lseek(f->fd, (off_t)offset, SEEK_SET);
  ogg_sync_reset(&f->sync);
  ogg_stream_reset(&f->video);
  while (!keyframe) {
    if (!FloorNextPage(f, &page)) return 0;
    if (ogg_page_serialno(&page) != f->videoSerial) continue;
    ogg_stream_pagein(&f->video, &page);
    while (!keyframe && (r = ogg_stream_packetout(&f->video, &packet)) != 0)
      keyframe = r > 0 && packet.bytes > 0 && (packet.packet[0] & 0x08) &&
                 Payload(&packet, f->payload) > 0;
  }
  /* The audio from the pages after the keyframe's. */
  ogg_stream_reset(&f->audio);
  if (f->decoding) vorbis_synthesis_restart(&f->vd);
  while (FloorAudioPacket(f, &packet))
    if (FloorAudio(f, &packet) > 0) return 1;
  return 0;
}
