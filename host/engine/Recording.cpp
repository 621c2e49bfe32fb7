#include "engine/Recording.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

namespace tw {

static_assert(std::endian::native == std::endian::little, "the record format is written in host order");

namespace {

template <typename T>
void put(std::vector<uint8>& out, const T& v) {
  const auto* p = reinterpret_cast<const uint8*>(&v);
  out.insert(out.end(), p, p + sizeof v);
}
template <typename T>
void get(const uint8*& p, T* v) {
  std::memcpy(v, p, sizeof *v);
  p += sizeof *v;
}

}  // namespace

RecordWriter::~RecordWriter() { abort(); }

bool RecordWriter::open(const std::string& path, int rate, double fps, std::string* error) {
  path_ = path;
  tmp_ = path + ".partial";
  file_ = std::fopen(tmp_.c_str(), "wb");
  if (!file_) {
    *error = "cannot write record file '" + path + "': " + std::strerror(errno);
    return false;
  }
  std::vector<uint8> h;
  h.insert(h.end(), {'T', 'W', 'S', 'O', 'U', 'N', 'D', '1'});
  put(h, uint32(1));
  put(h, uint32(SoundFrame::kSamples));
  put(h, uint32(SoundFrame::kSpectrum));
  put(h, uint32(rate));
  put(h, fps);
  if (std::fwrite(h.data(), 1, h.size(), file_) != h.size()) {
    *error = "cannot write record file '" + path + "'";
    abort();
    return false;
  }
  return true;
}

bool RecordWriter::write(const SoundFrame& f, std::string* error) {
  std::vector<uint8> b;
  b.reserve(kRecordFrameBytes);
  put(b, f.frameCount);
  put(b, f.level);
  put(b, f.bands);
  for (int ch = 0; ch < 2; ++ch)
    for (float v : f.spectrum[size_t(ch)]) put(b, v);
  for (int32 v : f.samples) put(b, v);
  if (std::fwrite(b.data(), 1, b.size(), file_) != b.size()) {
    *error = "cannot write record file '" + path_ + "': " + std::strerror(errno);
    return false;
  }
  return true;
}

bool RecordWriter::finish(std::string* error) {
  const bool ok = file_ && std::fclose(file_) == 0;
  file_ = nullptr;
  std::error_code ec;
  if (ok) std::filesystem::rename(tmp_, path_, ec);
  if (!ok || ec) {
    *error = "cannot write record file '" + path_ + "'";
    std::remove(tmp_.c_str());
    tmp_.clear();
    return false;
  }
  tmp_.clear();
  return true;
}

void RecordWriter::abort() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  if (!tmp_.empty()) std::remove(tmp_.c_str());
  tmp_.clear();
}

RecordReader::~RecordReader() {
  if (file_) std::fclose(file_);
}

bool parseRecordHeader(const uint8* h, size_t size, const std::string& name, RecordHeader* out,
                       std::string* error) {
  if (size < kRecordHeaderBytes || std::memcmp(h, "TWSOUND1", 8) != 0) {
    *error = "'" + name + "' is not a tidewave record file";
    return false;
  }
  const uint8* p = h + 8;
  uint32 version, samples, bins, rate;
  double fps;
  get(p, &version), get(p, &samples), get(p, &bins), get(p, &rate), get(p, &fps);
  if (version != 1 || samples != SoundFrame::kSamples || bins != SoundFrame::kSpectrum || !(fps > 0 && fps <= 1000) ||
      rate == 0 || rate > 1000000) {
    *error = "'" + name + "' is a record file of another layout (version " + std::to_string(version) + ")";
    return false;
  }
  out->sampleRate = int(rate);
  out->fps = fps;
  return true;
}

bool parseRecordFrame(const uint8* b, const std::string& name, SoundFrame* f, std::string* error) {
  const uint8* p = b;
  get(p, &f->frameCount);
  get(p, &f->level);
  get(p, &f->bands);
  for (int ch = 0; ch < 2; ++ch)
    for (float& v : f->spectrum[size_t(ch)]) get(p, &v);
  for (int32& v : f->samples) get(p, &v);
  // What the analysis writes and the filters are promised; anything else
  // would reach them as a value no filter is written for.
  auto magnitude = [](double v) { return std::isfinite(v) && v >= 0; };
  bool sound = true;
  for (int ch = 0; ch < 2; ++ch) {
    sound = sound && magnitude(f->level[ch]);
    for (double v : f->bands[ch]) sound = sound && magnitude(v);
    for (float v : f->spectrum[size_t(ch)]) sound = sound && magnitude(v);
  }
  for (int32 v : f->samples) sound = sound && v >= -32768 && v <= 32767;
  if (!sound) {
    *error = "record file '" + name + "' is damaged: frame " + std::to_string(f->frameCount) +
             " holds values the analysis never writes";
    return false;
  }
  return true;
}

bool RecordReader::open(const std::string& path, std::string* error) {
  path_ = path;
  file_ = std::fopen(path.c_str(), "rb");
  if (!file_) {
    *error = "cannot read record file '" + path + "': " + std::strerror(errno);
    return false;
  }
  uint8 h[kRecordHeaderBytes];
  const size_t got = std::fread(h, 1, sizeof h, file_);
  RecordHeader header;
  if (!parseRecordHeader(h, got, path, &header, error)) return false;
  sampleRate_ = header.sampleRate;
  fps_ = header.fps;
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  frames_ = ec ? 0 : long((size - kRecordHeaderBytes) / kRecordFrameBytes);
  return true;
}

bool RecordReader::read(SoundFrame* f, std::string* error) {
  std::vector<uint8> b(kRecordFrameBytes);
  const size_t got = std::fread(b.data(), 1, b.size(), file_);
  if (got == 0) return false;
  if (got != b.size()) {
    *error = "record file '" + path_ + "' ends in the middle of a frame";
    return false;
  }
  return parseRecordFrame(b.data(), path_, f, error);
}

}  // namespace tw
