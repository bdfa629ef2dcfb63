// What takes an image's rows as they are made: the PNG, its palette rewrite,
// the OZF2 image and its zoom levels, so that what makes the rows needs no
// knowledge of the formats.
#pragma once

#include <cstddef>

namespace rastrel {

class RowSink {
 public:
  virtual ~RowSink() = default;
  // The next `rows` rows from the top, the bytes of each row in a run.
  virtual void AddRows(const unsigned char* rows_bytes, std::size_t rows) = 0;
  // After the last row.
  virtual void Finish() = 0;
};

}  // namespace rastrel
