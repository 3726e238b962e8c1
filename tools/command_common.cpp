#include "command_common.h"

#include <cstdio>

namespace cli {

const char* UsageText() {
  return "usage: ogmdecaps COMMAND SOURCE [options]\n"
         "\n"
         "SOURCE is an Ogg Media (.ogm) file or a URL (anything with \"://\", read over HTTP).\n"
         "\n"
         "commands:\n"
         "  info SOURCE [--json]\n"
         "      Describe the video, the audio and the chapters. A chapter's time is where a\n"
         "      chapter seek lands: the keyframe the reader resumes on.\n"
         "  play SOURCE [--realtime] [--seek-every P]\n"
         "      Pull video and audio on two threads as a player does (as fast as possible,\n"
         "      or paced by the frame rate with --realtime); --seek-every P seeks forward\n"
         "      by P percent from a third thread meanwhile. Prints a summary.\n"
         "  demux SOURCE [-v OUT.avi] [-a OUT.wav|.mp3|.mp2|.ac3|.dts|.raw] [--avi-limit BYTES]\n"
         "      Write the video frames into an AVI and/or the audio into a file: WAV for\n"
         "      Vorbis (decoded) and PCM, the raw stream for the other formats.\n"
         "      The AVI stops at --avi-limit (default 1 GiB; AVI 1.0 offsets are 32-bit).\n"
         "      The files are written under temporary names and renamed into place at\n"
         "      the end: a write error, Ctrl-C or a kill leaves no file behind and an\n"
         "      existing file of that name as it was. When a read of the source fails\n"
         "      before its end, the files keep what came before it (complete and valid)\n"
         "      and the exit status is 1. An output that is the source is refused.\n"
         "  framemd5 SOURCE\n"
         "      One line per video frame with its size and MD5, as ffmpeg -f framemd5.\n"
         "  seek SOURCE (--percent P | --frame N | --chapter K) [--frames N]\n"
         "      Seek and print where the reader landed; --frames N prints the N frames\n"
         "      from there (the landing keyframe first) as framemd5 lines. Chapters count\n"
         "      from 1, as info lists them.\n"
         "\n"
         "options of every command:\n"
         "  --cache          read a local file through the caching plug-in\n"
         "  --timeout MS     network time-out (100..30000 ms, default 30000) for a URL:\n"
         "                   a connect, an answer or a read that brings nothing\n"
         "  --library PATH   the reader library; default $OGMDECAPS_LIBRARY, then\n"
         "                   ../lib/libogmdecaps.so beside this program\n"
         "\n"
         "exit status: 0 done, 1 the source did not open or a read or write failed,\n"
         "2 usage error (also a request the source cannot satisfy).\n";
}

int UsageError(const std::string& command, const std::string& message) {
  std::fprintf(stderr, "ogmdecaps %s: %s\n(ogmdecaps --help shows the usage)\n", command.c_str(),
               message.c_str());
  return kExitUsage;
}

int Failure(const std::string& command, const std::string& message) {
  std::fprintf(stderr, "ogmdecaps %s: %s\n", command.c_str(), message.c_str());
  return kExitFailed;
}

int ReadFailure(const std::string& command, int64_t frames) {
  return Failure(command, "reading the source failed before its end, after " +
                              std::to_string(frames) +
                              " frames; the output holds what came before");
}

int OpenSession(const std::string& command, const ParsedArgs& args, Session* session) {
  SourceOptions options;
  std::string error;
  if (!ReadSourceOptions(args, &options, &error)) return UsageError(command, error);
  if (!session->library.Load(options.library, &error)) return Failure(command, error);
  session->source = std::make_unique<OpenSource>(session->library.api());
  if (!session->source->Open(args.source(), options.useCache, options.openArg))
    return Failure(command, "cannot open " + args.source() +
                                " (missing, unreadable, or not an OGM file with a video stream)");
  return kExitOk;
}

}  // namespace cli
