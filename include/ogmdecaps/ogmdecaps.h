/*
 * ogmdecaps: a reader of Ogg Media (OGM) files for media players.
 *
 * Plain C interface. The library serves one source at a time per process;
 * everything it knows about that source lives in one static record, so no
 * handle is passed. Video frames come out compressed, exactly as stored;
 * Vorbis audio comes out as interleaved signed 16-bit PCM, other audio as its
 * raw byte stream.
 *
 * Results: 1 done; 0 failed or nothing delivered; byte counts; doubles.
 * No function reports error text and none throws.
 *
 * The video and the audio may be read in any order, from one thread or two,
 * each as far ahead of the other as the host likes (or one of them not at
 * all), and nothing is lost. Pages of the stream being read behind are kept
 * up to a bound (1 MiB of video, 128 KiB of audio); past it they stay in
 * the source and are read again, with a seek of the plug-in, when that
 * stream is asked for. A source whose plug-in could not seek at open (or, on
 * a network source, could not serve the tail) keeps every such page
 * instead: memory then grows with the distance between the two streams.
 */
#ifndef OGMDECAPS_OGMDECAPS_H
#define OGMDECAPS_OGMDECAPS_H

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#if defined(_WIN32)
#define OGMDECAPS_EXPORT __declspec(dllexport)
#else
#define OGMDECAPS_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ========================================================================
 * STREAM INFORMATION
 * ======================================================================== */

/* One chapter name: UTF-16 code units, zero-terminated when shorter than
 * the slot (at most 49 units of text). */
typedef struct ChapterName {
  char16_t text[50];
} ChapterName;

/* The description of the open source. Lives in the library's static storage
 * at the same address for every source; the host reads it in place. It stays
 * readable after a close until the next open overwrites it.
 * Little-endian, 10072 bytes; byte offsets in the comments are binding. */
typedef struct StreamInfo {
  int32_t width;                 /*  0 picture width */
  int32_t height;                /*  4 picture height */
  double framesPerSecond;        /*  8 10000000.0 / video time unit */
  char fourcc[4];                /* 16 video compression code, no terminator */
  int32_t reserved20;            /* 20 always 0 (so fourcc reads as a string) */
  int32_t frameCount;            /* 24 number of video frames */
  int32_t reserved28;            /* 28 always 0 */
  int32_t currentFrame;          /* 32 number of the current video frame */
  int32_t reserved36;            /* 36 always 0 */
  int32_t audioFormat;           /* 40 0 Vorbis (as PCM); else the format tag */
  int32_t audioParamA;           /* 44 Vorbis: channels; other: samples per unit */
  int32_t audioParamB;           /* 48 Vorbis: rate in Hz; other: channels */
  int32_t audioBitrate;          /* 52 Vorbis nominal bitrate */
  int32_t totalAudioBytes;       /* 56 audio bytes the whole source yields */
  int32_t reserved60;            /* 60 always 0 */
  int32_t reserved64;            /* 64 always 0 */
  int32_t chapterCount;          /* 68 number of chapter names */
  ChapterName chapterNames[100]; /* 72 */
} StreamInfo;

/* ========================================================================
 * ENTRY POINTS (exported by name)
 * ======================================================================== */

/* Opens a source: a file path, or a URL (any name containing "://").
 * name     NUL-terminated UTF-16.
 * useCache nonzero: read local files through the caching plug-in.
 * openArg  for the plug-ins shipped here a time-out in ms (see RavelOpen's
 *          d): passed when a file is reopened after the duration scan, and
 *          to the open of a URL when it is > 0 (else the network plug-in
 *          waits up to 30 s for a connect, an answer or a byte).
 * result   receives the address of the StreamInfo on success; untouched on
 *          failure.
 * Returns 1 open and described, 0 failed (nothing is left open). An open
 * while another source is open closes that source first. An open made
 * while a thread is still inside the reader (see AVIDecaps_Close) waits for
 * it up to 2 s and fails (0) when it is still there. */
OGMDECAPS_EXPORT int32_t AVIDecaps_Open(const char16_t* name, int32_t useCache, int32_t openArg,
                                        void** result);

/* Negative results of the readers. Hosts that stop on any result < 0 need
 * not tell them apart. */
#define OGMDECAPS_END_OF_INPUT (-1) /* the input ended, or nothing is open */
/* the buffer size the host gave cannot hold what comes next; nothing was
 * written or consumed */
#define OGMDECAPS_FRAME_TOO_LARGE (-2)
#define OGMDECAPS_READ_ERROR                    \
  (-3) /* a read failed before the source's end \
          (a cut download, an I/O error) */

/* Copies the next compressed video frame into dest and returns its size in
 * bytes (0 for an empty frame); OGMDECAPS_END_OF_INPUT (-1) at the end of
 * the input or when nothing is open; OGMDECAPS_READ_ERROR (-3) when a read
 * failed before the source's length was reached (the frames before it were
 * genuine; a later call may try the read again).
 * bufferBytes > 0: the size of dest. A larger frame is not written: the
 *   call returns OGMDECAPS_FRAME_TOO_LARGE (-2), currentFrame already names
 *   that frame, and the next call hands it out (or reports it again) so the
 *   host can retry with a larger buffer.
 * bufferBytes <= 0: no size given; dest must hold the largest frame of the
 *   stream. */
OGMDECAPS_EXPORT int32_t AVIDecaps_NextVideoFrame(void* dest, int32_t bufferBytes);

/* Audio. Returns OGMDECAPS_READ_ERROR (-3) instead of 0 when the call
 * ends, with nothing delivered, because a read failed before the source's
 * length was reached (as AVIDecaps_NextVideoFrame). Once the audio stream's
 * last packet is handed out, calls return 0 without reading further.
 * Raw (non-Vorbis) audio: fills exactly byteCount bytes of the stream and
 * returns byteCount. The stream's tail that cannot fill a request comes out
 * as one shorter result (1..byteCount-1). 0 at the end, when byteCount <= 0,
 * when the source has no audio, or when nothing is open. The buffer holds
 * byteCount bytes.
 * Vorbis audio: writes interleaved signed 16-bit PCM (machine byte order)
 * and returns the bytes written: 2000 or more, except the stream's very
 * last call, which returns what is left (1..1999); 0 at the end.
 * No call writes more than 67536 bytes, whatever the channel count (decoded
 * samples that do not fit wait for the next call), so a buffer of 67536
 * bytes always suffices. byteCount > 0 is the buffer's size: the call then
 * writes at most byteCount bytes (whole sample frames; fewer than 2000 when
 * byteCount is smaller) and returns OGMDECAPS_FRAME_TOO_LARGE when byteCount
 * cannot hold one sample frame (2 x channels bytes). byteCount <= 0: no
 * size given, the 67536-byte bound holds. */
OGMDECAPS_EXPORT int32_t AVIDecaps_ReadAudio(void* buffer, int32_t byteCount);

/* Frames per second of the video (0.0 before any open). */
OGMDECAPS_EXPORT double AVIDecaps_FrameRate(void);

/* Seeks to position percent of the source (byFrame 0, 0..100) or to frame
 * number position (byFrame nonzero). Resumes on a keyframe: for a frame
 * number the first keyframe at or after it, for a percent the first
 * keyframe after that share of the bytes, past the last keyframe the last
 * keyframe; percent 0 and frame 0 the start. The next
 * AVIDecaps_NextVideoFrame returns that keyframe. The audio resumes at the
 * keyframe's time or up to one packet after it; Vorbis whose page granules
 * run ahead of its packets (ogmmerge writes such files) may resume up to
 * about 0.1 s before it. Returns the audio bytes that remain from the new
 * position to the end. */
OGMDECAPS_EXPORT int32_t AVIDecaps_Seek(int32_t position, int32_t byFrame);

/* Reads audio forward to the time of the last video frame taken. Returns the
 * audio bytes that remain from the current frame, 0 when the audio ran out. */
OGMDECAPS_EXPORT int32_t AVIDecaps_ReSeekAudio(void);

/* Position in percent of the frame count (may pass 100 on network sources,
 * whose frame count is an estimate). */
OGMDECAPS_EXPORT double AVIDecaps_GetProgress(void);

/* Closes the source. Always returns 1. StreamInfo stays readable.
 * May be called from any thread at any time: a call in progress on another
 * thread is waited for up to 2 s; then that thread's input read is
 * interrupted (RavelClose) and it gets 1 s more to leave. Every later call
 * of any thread answers as with nothing open. When the plug-in cannot
 * interrupt its read, AVIDecaps_Close returns after those 3 s all the same
 * and the thread still inside completes the close when its read returns;
 * until then the other entry points wait for it. */
OGMDECAPS_EXPORT int32_t AVIDecaps_Close(void);

/* ========================================================================
 * FUNCTION TABLE
 * ======================================================================== */

typedef int32_t (*AVIDecaps_OpenFn)(const char16_t*, int32_t, int32_t, void**);
typedef int32_t (*AVIDecaps_ReadAudioFn)(void*, int32_t);
typedef int32_t (*AVIDecaps_NextVideoFrameFn)(void*, int32_t);
typedef int32_t (*AVIDecaps_SeekFn)(int32_t, int32_t);
typedef int32_t (*AVIDecaps_VoidFn)(void);
typedef double (*AVIDecaps_ProgressFn)(void);
typedef int32_t (*AVIDecaps_SeekChapterFn)(int32_t);

/* The host's table: eleven pointer-sized slots (4 bytes each on a 32-bit
 * target, slot n at byte 4 x n). */
typedef struct ReaderFunctions {
  AVIDecaps_OpenFn open;                     /* slot 0 */
  AVIDecaps_ReadAudioFn readAudio;           /* slot 1 */
  AVIDecaps_NextVideoFrameFn nextVideoFrame; /* slot 2 */
  AVIDecaps_SeekFn seek;                     /* slot 3 */
  AVIDecaps_VoidFn reSeekAudio;              /* slot 4 */
  AVIDecaps_ProgressFn getProgress;          /* slot 5 */
  AVIDecaps_VoidFn close;                    /* slot 6 */
  AVIDecaps_VoidFn alwaysTrue;               /* slot 7: returns 1 */
  AVIDecaps_SeekChapterFn seekChapter;       /* slot 8: seek to chapter n */
  void* reserved9;                           /* slot 9: never written */
  AVIDecaps_VoidFn closeIfStalled;           /* slot 10 */
} ReaderFunctions;

/* Writes slots 0..8 and 10 of table, leaves slot 9 alone, returns table.
 * Touches no state; may be called at any time.
 *
 * Table-only functions:
 *  slot 7  int32_t AVIDecaps_AlwaysTrue(void): returns 1.
 *  slot 8  int32_t AVIDecaps_SeekChapter(int32_t chapterIndex): seeks to the
 *          first keyframe at or after the start of chapter chapterIndex
 *          (0-based), as AVIDecaps_Seek does for a frame. Returns the remaining
 *          audio bytes; an index outside 0..chapterCount-1 changes nothing
 *          and returns the remaining audio bytes of the current position.
 *  slot 10 int32_t AVIDecaps_CloseIfStalled(void): when another thread has
 *          held the reader for 500 ms, closes the source (unblocking that
 *          thread's input read); otherwise changes nothing. Returns 1
 *          within 1.5 s (plus the plug-in's RavelClose): after the 500 ms
 *          it interrupts the read and waits 1 s more, and when the plug-in
 *          could not interrupt it, leaves the close to the thread inside,
 *          as AVIDecaps_Close does. An open that hangs in a read for 500 ms
 *          counts as held: CloseIfStalled then ends that open, which
 *          returns 0. */
OGMDECAPS_EXPORT ReaderFunctions* InitializeReader(ReaderFunctions* table);

/* ========================================================================
 * INPUT PLUG-IN INTERFACE
 * ======================================================================== */

/* Every input plug-in ("Ravel", "RavelCache", "RavelHTTP"; .dll on Windows,
 * .so elsewhere) exports these four functions and serves one source at a
 * time. Ravel reads local files directly, RavelCache through a read-ahead
 * window, RavelHTTP reads http:// and https:// URLs.
 *
 * RavelOpen(name, a, b, c, d): name is NUL-terminated UTF-16 (a file path,
 *   or a URL for RavelHTTP). a and b are 0. An open source is closed first.
 *   c: read-ahead size in bytes; -1 or 0 = the plug-in's default (1 MiB),
 *      others clamped to 64 KiB..16 MiB. RavelCache's window; RavelHTTP's
 *      limit on received bytes held ahead of the reader. Ravel ignores it.
 *   d: time-out in milliseconds for a network connect, the response head,
 *      or a read that receives no byte; <= 0 = the default (15 s), others
 *      clamped to 100 ms..30 s (the reader's first open passes 1000000).
 *      The file plug-ins ignore it.
 *   Returns the source length in bytes (1..INT32_MAX), 0 = not opened.
 *   Sources longer than INT32_MAX bytes are refused (0), and so are empty
 *   ones, anything but regular files, and HTTP answers without a length.
 * RavelRead(buffer, count): returns bytes read (0..count), 0 = no more data
 *   (end, failure, nothing open, or closed meanwhile); never negative.
 *   RavelHTTP resumes a dropped transfer with a Range request (a few tries)
 *   and returns 0 when no byte arrives within the time-out.
 * RavelSeek(offset, origin): origin 0 = absolute from the start, 1 = from the
 *   position, 2 = from the end. Returns 1 done, 0 refused (target outside
 *   0..length, unknown origin, nothing open). On a server that ignores
 *   Range RavelHTTP reaches the offset all the same: forward by reading on
 *   and dropping, backward by a new transfer from the start.
 * RavelHTTP checks https:// servers against the system's certificate
 *   authorities; a host that trusts another certificate (a private or
 *   self-signed server) names a PEM bundle in the environment variable
 *   CURL_CA_BUNDLE before the open.
 * RavelClose(): releases the source; returns 1, also when nothing is open.
 *   May be called from another thread while a RavelRead blocks: that read
 *   then returns 0 promptly, and the plug-in can be opened again. */
typedef int32_t (*RavelOpenFn)(const char16_t* name, int32_t a, int32_t b, int32_t c, int32_t d);
typedef int32_t (*RavelReadFn)(void* buffer, int32_t count);
typedef int32_t (*RavelSeekFn)(int32_t offset, int32_t origin);
typedef int32_t (*RavelCloseFn)(void);

#ifdef __cplusplus
}
#endif

#endif /* OGMDECAPS_OGMDECAPS_H */
