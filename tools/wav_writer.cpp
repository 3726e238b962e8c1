#include "wav_writer.h"

namespace cli {

bool WavWriter::Open(const std::string& path, const WavFormat& format, std::string* error) {
  format_ = format;
  if (format.channels == 0 || format.rate == 0 || format.bitsPerSample == 0 ||
      format.bitsPerSample % 8 != 0) {
    *error = "no PCM layout for a WAV file (channels, rate, bits per sample)";
    return false;
  }
  if (!file_.Open(path, error)) return false;
  const uint16_t blockAlign = static_cast<uint16_t>(format.channels * format.bitsPerSample / 8);
  RiffFile& f = file_;
  f.Start("WAVE");
  f.Fourcc("fmt ");
  f.U32(16);
  f.U16(1);  // WAVE_FORMAT_PCM
  f.U16(format.channels);
  f.U32(format.rate);
  f.U32(format.rate * blockAlign);
  f.U16(blockAlign);
  f.U16(format.bitsPerSample);
  f.Fourcc("data");
  f.U32(0);  // patched
  if (!f.ok()) {
    *error = f.error();
    return false;
  }
  return true;
}

WavWriter::Added WavWriter::Write(const uint8_t* data, size_t size) {
  if (!file_.ok()) return Added::kError;
  Added result = Added::kOk;
  if (data_ + size > kMaxData) {
    size = static_cast<size_t>(kMaxData - data_);
    result = Added::kFull;
  }
  file_.Bytes(data, size);
  data_ += size;
  return file_.ok() ? result : Added::kError;
}

bool WavWriter::Finish(std::string* error) {
  RiffFile& f = file_;
  if (data_ & 1) f.Zeros(1);  // chunks are padded to even sizes
  f.PatchRiffSize();
  f.PatchU32(40, static_cast<uint32_t>(data_));
  if (!f.Close()) {
    *error = f.error();
    return false;
  }
  return true;
}

}  // namespace cli
