#include "png_read.h"

#include <zlib.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

#include "png_stream.h"

namespace rastrel {

namespace {

// Rows given to the sink at once: enough for its threads to share.
constexpr std::size_t kBatchRows = 256;

std::uint32_t BigEndian(const unsigned char* bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 | bytes[3];
}

// Reverses a PNG filter on one row of 8-bit RGB.
void Unfilter(int type, unsigned char* row, const unsigned char* above, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    const int left = i >= 3 ? row[i - 3] : 0, up_left = i >= 3 ? above[i - 3] : 0;
    row[i] = static_cast<unsigned char>(row[i] + PngPrediction(type, left, above[i], up_left));
  }
}

// The image's zlib stream in, unfiltered rows out to the sink.
class RowInflater {
 public:
  RowInflater(RowSink& sink, std::uint32_t width, std::uint32_t height)
      : sink_(sink), height_(height), line_(std::size_t{width} * 3 + 1), row_(line_, 0), above_(line_, 0) {
    if (inflateInit(&stream_) != Z_OK) throw std::bad_alloc();
  }
  ~RowInflater() { inflateEnd(&stream_); }

  void Take(const unsigned char* data, std::size_t size) {
    stream_.next_in = const_cast<unsigned char*>(data);
    stream_.avail_in = static_cast<uInt>(size);
    while (stream_.avail_in != 0) {
      stream_.next_out = row_.data() + filled_;
      stream_.avail_out = static_cast<uInt>(line_ - filled_);
      const int result = inflate(&stream_, Z_NO_FLUSH);
      if (result != Z_OK && result != Z_STREAM_END) throw std::runtime_error("the PNG's image data is broken");
      filled_ = line_ - stream_.avail_out;
      if (filled_ == line_) RowDone();
      if (result == Z_STREAM_END) break;
    }
  }

  void Finish() {
    if (rows_done_ != height_) throw std::runtime_error("the PNG ends early");
    if (!batch_.empty()) sink_.AddRows(batch_.data(), batch_.size() / (line_ - 1));
    sink_.Finish();
  }

 private:
  void RowDone() {
    Unfilter(row_[0], row_.data() + 1, above_.data() + 1, line_ - 1);
    std::swap(row_, above_);
    filled_ = 0;
    ++rows_done_;
    batch_.insert(batch_.end(), above_.begin() + 1, above_.end());
    if (batch_.size() >= kBatchRows * (line_ - 1)) {
      sink_.AddRows(batch_.data(), kBatchRows);
      batch_.clear();
    }
  }

  RowSink& sink_;
  std::uint32_t height_, rows_done_ = 0;
  std::size_t line_, filled_ = 0;
  std::vector<unsigned char> row_, above_, batch_;
  z_stream stream_ = {};
};

// A file read in pieces; a failure or a file that ends early stops the read.
class PieceReader {
 public:
  explicit PieceReader(platform::FileHandle file) : file_(file) {}

  const unsigned char* Read(std::size_t size) {
    buffer_.resize(size);
    for (std::size_t got = 0; got < size;) {
      std::size_t count = 0;
      const platform::IoStatus status =
          platform::ReadFile(file_, reinterpret_cast<char*>(buffer_.data()) + got, size - got, count);
      if (status.Failed()) throw status;
      if (count == 0) throw platform::IoStatus::System(-1);
      got += count;
    }
    return buffer_.data();
  }

 private:
  platform::FileHandle file_;
  std::vector<unsigned char> buffer_;
};

void ReadChunks(platform::FileHandle in, const std::function<RowSink&(std::uint32_t, std::uint32_t)>& open) {
  PieceReader reader(in);
  reader.Read(8);
  std::unique_ptr<RowInflater> inflater;
  for (;;) {
    const unsigned char* head = reader.Read(8);
    const std::uint32_t length = BigEndian(head);
    const std::string type(reinterpret_cast<const char*>(head) + 4, 4);
    if (type == "IHDR") {
      const unsigned char* header = reader.Read(length);
      const std::uint32_t width = BigEndian(header), height = BigEndian(header + 4);
      inflater = std::make_unique<RowInflater>(open(width, height), width, height);
    }
    for (std::uint32_t left = type == "IHDR" ? 0 : length; left != 0;) {
      const std::uint32_t piece = std::min<std::uint32_t>(left, 1 << 16);
      const unsigned char* data = reader.Read(piece);
      if (type == "IDAT" && inflater) inflater->Take(data, piece);
      left -= piece;
    }
    reader.Read(4);
    if (type == "IEND") break;
  }
  if (!inflater) throw platform::IoStatus::System(-1);
  inflater->Finish();
}

}  // namespace

platform::IoStatus ReadPngRows(const std::string& file,
                               const std::function<RowSink&(std::uint32_t width, std::uint32_t height)>& open) {
  platform::FileHandle in = 0;
  platform::IoStatus status = platform::OpenFileForReading(file, in);
  if (status.Failed()) return status;
  // Closed however the read ends, also by what the sink raises.
  const std::unique_ptr<platform::FileHandle, void (*)(platform::FileHandle*)> closed(
      &in, [](platform::FileHandle* file) { platform::CloseFile(*file); });
  try {
    ReadChunks(in, open);
  } catch (const platform::IoStatus& failed) {
    status = failed;
  } catch (const std::runtime_error&) {
    status = platform::IoStatus::System(-1);
  }
  return status;
}

}  // namespace rastrel
