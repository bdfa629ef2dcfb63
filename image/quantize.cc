#include "quantize.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "parallel.h"

namespace rastrel {

namespace {

// Colours alike in their top 5 bits of each channel: a cube of 8 x 8 x 8.
constexpr int kBinBits = 5;
constexpr std::size_t kBins = std::size_t{1} << (3 * kBinBits);

std::size_t BinOf(std::uint32_t colour) {
  const auto top = [colour](int shift) { return std::size_t{colour >> (shift + 8 - kBinBits) & ((1u << kBinBits) - 1)}; };
  return top(16) << (2 * kBinBits) | top(8) << kBinBits | top(0);
}

int Channel(std::uint32_t colour, int channel) { return static_cast<int>(colour >> (16 - 8 * channel) & 0xFF); }

std::uint32_t Colour(const std::uint64_t sums[3], std::uint64_t count) {
  std::uint32_t colour = 0;
  for (int c = 0; c < 3; ++c) colour = colour << 8 | static_cast<std::uint32_t>((sums[c] + count / 2) / count);
  return colour;
}

// A bin met in the image: its pixels' mean, their number and sums.
struct Cell {
  std::uint32_t mean;
  std::uint64_t count, sums[3];
  std::uint32_t leader;
  std::uint64_t lead;
};

// Cells of one box of the median cut, and how far they spread.
struct Box {
  std::size_t begin, end;
  std::uint64_t spread[3];  // each channel's sum of squared distances from the mean
  std::uint64_t Spread() const { return spread[0] + spread[1] + spread[2]; }
};

Box Measure(const std::vector<Cell>& cells, std::size_t begin, std::size_t end) {
  Box box{begin, end, {0, 0, 0}};
  std::uint64_t count = 0, sums[3] = {0, 0, 0};
  for (std::size_t i = begin; i < end; ++i) {
    count += cells[i].count;
    for (int c = 0; c < 3; ++c) sums[c] += cells[i].sums[c];
  }
  const std::uint32_t mean = Colour(sums, count);
  for (std::size_t i = begin; i < end; ++i) {
    for (int c = 0; c < 3; ++c) {
      const std::int64_t d = Channel(cells[i].mean, c) - Channel(mean, c);
      box.spread[c] += cells[i].count * static_cast<std::uint64_t>(d * d);
    }
  }
  return box;
}

// Splits the box at the median of its widest channel; false if it is one cell.
bool Split(std::vector<Cell>& cells, const Box& box, Box& low, Box& high) {
  if (box.end - box.begin < 2) return false;
  const int channel = static_cast<int>(std::max_element(box.spread, box.spread + 3) - box.spread);
  const auto begin = cells.begin() + static_cast<std::ptrdiff_t>(box.begin);
  std::sort(begin, begin + static_cast<std::ptrdiff_t>(box.end - box.begin), [channel](const Cell& a, const Cell& b) {
    return Channel(a.mean, channel) != Channel(b.mean, channel) ? Channel(a.mean, channel) < Channel(b.mean, channel)
                                                                : a.mean < b.mean;
  });
  std::uint64_t total = 0, below = 0;
  for (std::size_t i = box.begin; i < box.end; ++i) total += cells[i].count;
  std::size_t middle = box.begin + 1;
  for (std::size_t i = box.begin; i + 1 < box.end && below + cells[i].count <= total / 2; ++i) {
    below += cells[i].count;
    middle = i + 1;
  }
  low = Measure(cells, box.begin, middle);
  high = Measure(cells, middle, box.end);
  return true;
}

std::vector<std::uint32_t> MedianCut(std::vector<Cell>& cells) {
  std::vector<Box> boxes = {Measure(cells, 0, cells.size())};
  while (boxes.size() < ColourCount::kMostColours) {
    // The box whose colours lie farthest from its mean, among those that split.
    auto widest = boxes.end();
    for (auto box = boxes.begin(); box != boxes.end(); ++box) {
      if (box->end - box->begin > 1 && (widest == boxes.end() || box->Spread() > widest->Spread())) widest = box;
    }
    Box low, high;
    if (widest == boxes.end() || !Split(cells, *widest, low, high)) break;
    *widest = low;
    boxes.push_back(high);
  }
  // Each box's mean; or, where one bin fills more than half of the box, the
  // colour that leads its vote, as it is: the paper or the ink that covers
  // much of a map keeps its exact colour.
  std::vector<std::uint32_t> palette;
  for (const Box& box : boxes) {
    std::uint64_t count = 0, sums[3] = {0, 0, 0};
    const Cell* largest = &cells[box.begin];
    for (std::size_t i = box.begin; i < box.end; ++i) {
      count += cells[i].count;
      for (int c = 0; c < 3; ++c) sums[c] += cells[i].sums[c];
      if (cells[i].count > largest->count) largest = &cells[i];
    }
    palette.push_back(2 * largest->count > count && largest->lead != 0 ? largest->leader : Colour(sums, count));
  }
  return palette;
}

}  // namespace

ColourSurvey::ColourSurvey(std::size_t parts) {
  for (std::size_t part = 0; part < parts; ++part) parts_.emplace_back(new Bin[kBins]());
}

void ColourSurvey::Vote(Bin& bin, std::uint32_t colour, std::uint64_t votes) {
  if (bin.leader == colour) {
    bin.lead += votes;
  } else if (bin.lead >= votes) {
    bin.lead -= votes;
  } else {
    bin.leader = colour, bin.lead = votes - bin.lead;
  }
}

void ColourSurvey::Add(Bins& bins, const unsigned char* rgb, std::size_t pixels) {
  for (std::size_t i = 0; i < pixels;) {
    // A run of one colour counts at once.
    const std::uint32_t colour = ColourAt(rgb + 3 * i);
    std::size_t run = 1;
    while (i + run < pixels && ColourAt(rgb + 3 * (i + run)) == colour) ++run;
    Bin& bin = bins[BinOf(colour)];
    bin.count += run;
    for (int c = 0; c < 3; ++c) bin.sums[c] += std::uint64_t{rgb[3 * i + static_cast<std::size_t>(c)]} * run;
    Vote(bin, colour, run);
    i += run;
  }
}

void ColourSurvey::Take(const unsigned char* rgb, std::size_t width, std::size_t rows, unsigned jobs) {
  // Each part takes its own columns of every row.
  const std::size_t columns = (width + parts_.size() - 1) / parts_.size();
  ParallelFor(jobs, parts_.size(), [&](std::size_t part) {
    const std::size_t begin = std::min(width, part * columns), end = std::min(width, begin + columns);
    for (std::size_t row = 0; row < rows; ++row) {
      Add(parts_[part], rgb + 3 * (row * width + begin), end - begin);
      exact_.Take(rgb + 3 * (row * width + begin), end - begin);
    }
  });
}

ColourSurvey::Bins ColourSurvey::Merged() const {
  Bins all(new Bin[kBins]());
  for (std::size_t part = 0; part < parts_.size(); ++part) {
    for (std::size_t i = 0; i < kBins; ++i) {
      Bin& bin = all[i];
      const Bin& more = parts_[part][i];
      bin.count += more.count;
      for (int c = 0; c < 3; ++c) bin.sums[c] += more.sums[c];
      // A part's leader carries its lead as votes: a colour that fills most
      // of the bin leads every part it fills most of.
      Vote(bin, more.leader, more.lead);
    }
  }
  return all;
}

std::vector<std::uint32_t> ColourSurvey::Palette() const {
  if (exact_.Fits()) return exact_.Colours();
  std::vector<Cell> cells;
  const Bins bins = Merged();
  for (std::size_t i = 0; i < kBins; ++i) {
    if (const Bin& bin = bins[i]; bin.count != 0) {
      cells.push_back({Colour(bin.sums, bin.count), bin.count, {bin.sums[0], bin.sums[1], bin.sums[2]}, bin.leader,
                       bin.lead});
    }
  }
  std::vector<std::uint32_t> palette = MedianCut(cells);
  std::sort(palette.begin(), palette.end());
  return palette;
}

NearestColour::NearestColour(const std::vector<std::uint32_t>& palette, int remembered_bits)
    : shift_(32 - remembered_bits),
      known_(std::size_t{1} << remembered_bits, 0),
      index_(std::size_t{1} << remembered_bits, 0),
      cell_begin_(kBins, kUnlisted),
      cell_size_minus_one_(kBins, 0) {
  for (std::uint32_t colour : palette) {
    red_.push_back(Channel(colour, 0));
    green_.push_back(Channel(colour, 1));
    blue_.push_back(Channel(colour, 2));
  }
}

unsigned char NearestColour::Index(std::uint32_t colour) {
  const std::size_t slot = (colour * 2654435761u) >> shift_;
  if (known_[slot] != colour + 1) {
    known_[slot] = colour + 1;
    index_[slot] = Search(colour);
  }
  return index_[slot];
}

void NearestColour::ListCandidates(std::size_t cell) {
  constexpr int kSide = 1 << (8 - kBinBits);
  const int low[3] = {static_cast<int>(cell >> (2 * kBinBits)) * kSide,
                      static_cast<int>(cell >> kBinBits & ((1 << kBinBits) - 1)) * kSide,
                      static_cast<int>(cell & ((1 << kBinBits) - 1)) * kSide};
  // A palette colour can be the nearest to some colour of the cube only if
  // its nearest approach to the cube is within the farthest that the best
  // of them lies from any colour of it.
  int nearest[256], limit = INT32_MAX;
  for (std::size_t i = 0; i < red_.size(); ++i) {
    const int channels[3] = {red_[i], green_[i], blue_[i]};
    int near = 0, far = 0;
    for (int c = 0; c < 3; ++c) {
      const int below = low[c] - channels[c], above = channels[c] - (low[c] + kSide - 1);
      const int outside = below > 0 ? below : above > 0 ? above : 0;
      const int away = below < 0 ? -below : below, beyond = above < 0 ? -above : above;
      near += outside * outside;
      far += away > beyond ? away * away : beyond * beyond;
    }
    nearest[i] = near;
    limit = far < limit ? far : limit;
  }
  cell_begin_[cell] = static_cast<std::uint32_t>(candidates_.size());
  for (std::size_t i = 0; i < red_.size(); ++i) {
    if (nearest[i] <= limit) candidates_.push_back(static_cast<unsigned char>(i));
  }
  cell_size_minus_one_[cell] = static_cast<unsigned char>(candidates_.size() - cell_begin_[cell] - 1);
}

unsigned char NearestColour::Search(std::uint32_t colour) {
  const int r = Channel(colour, 0), g = Channel(colour, 1), b = Channel(colour, 2);
  const std::size_t cell = BinOf(colour);
  if (cell_begin_[cell] == kUnlisted) ListCandidates(cell);
  const unsigned char* candidate = candidates_.data() + cell_begin_[cell];
  int best = candidate[0], nearest = INT32_MAX;
  for (std::size_t n = 0; n <= cell_size_minus_one_[cell]; ++n) {
    const int i = candidate[n];
    const int d = (red_[i] - r) * (red_[i] - r) + (green_[i] - g) * (green_[i] - g) + (blue_[i] - b) * (blue_[i] - b);
    if (d < nearest) nearest = d, best = i;
  }
  return static_cast<unsigned char>(best);
}

}  // namespace rastrel
