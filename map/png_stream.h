// A PNG written row by row as the rows arrive: 8-bit RGB, each row given the
// filter that suits it, the compression spread over several threads. Each
// piece of the image is deflated on its own, primed with the 32 KiB before
// it, and the pieces end byte-aligned so that their streams join into one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace rastrel {

class PngStream {
 public:
  // Takes the file's bytes in order; raises to stop.
  using Sink = std::function<void(std::string_view bytes)>;

  PngStream(std::uint32_t width, std::uint32_t height, int level, unsigned jobs, Sink sink);
  // The next `rows` rows, `width` * 3 bytes each, from the top.
  void AddRows(const unsigned char* rgb, std::size_t rows);
  // Writes the end of the file once the last row has been added.
  void Finish();

 private:
  void WriteChunk(std::string_view type, std::string_view data);
  void Filter(const unsigned char* rgb, std::size_t rows, std::string& filtered) const;
  std::string Deflate(std::string_view piece, std::string_view dictionary, bool last) const;

  std::size_t row_bytes_;
  std::uint32_t height_;
  int level_;
  unsigned jobs_;
  Sink sink_;
  std::uint32_t rows_added_ = 0;
  std::vector<unsigned char> previous_row_;  // the last row added, unfiltered
  std::string window_;                       // the last 32 KiB of the filtered stream
  unsigned long adler_ = 1;
  bool header_sent_ = false;
};

}  // namespace rastrel
