// A palette of at most 256 colours for an RGB image too large to hold: its
// colours are surveyed as its rows pass, the palette chosen from the survey
// (the image's own colours where they fit), and each pixel then given its
// nearest palette colour, without dithering, so that lines and lettering
// stay clean.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "palette.h"

namespace rastrel {

class ColourSurvey {
 public:
  // Surveys in `parts` parts, each by one thread at a time in the image's
  // order, so that the survey is the same on any number of threads.
  explicit ColourSurvey(std::size_t parts);
  // Takes `rows` rows of `width` RGB pixels on up to `jobs` threads.
  void Take(const unsigned char* rgb, std::size_t width, std::size_t rows, unsigned jobs);
  // The image's colours if at most 256, ascending as 0xRRGGBB; else 256
  // chosen from them.
  std::vector<std::uint32_t> Palette() const;
  // Whether the palette holds every colour taken.
  bool Exact() const { return exact_.Fits(); }

 private:
  // Colours 5 bits a channel alike share a bin, which sums them, and follows
  // the colour that may fill most of it (a majority vote: the colour it names
  // covers at least `lead` more of the bin's pixels than all others together).
  struct Bin {
    std::uint64_t count, sums[3];
    std::uint32_t leader;
    std::uint64_t lead;
  };
  // Zeroed at once, as plain memory.
  using Bins = std::unique_ptr<Bin[]>;

  static void Add(Bins& bins, const unsigned char* rgb, std::size_t pixels);
  // Casts `votes` votes for `colour` in the bin's majority vote.
  static void Vote(Bin& bin, std::uint32_t colour, std::uint64_t votes);
  Bins Merged() const;

  ColourCount exact_;
  std::vector<Bins> parts_;
};

// Each colour's nearest palette colour (by the sum of squared differences;
// the first of equals), remembered for the colours met again, up to
// 2^remembered_bits of them (a colour met later may take another's place).
// One to a thread.
class NearestColour {
 public:
  explicit NearestColour(const std::vector<std::uint32_t>& palette, int remembered_bits = 13);
  unsigned char Index(std::uint32_t colour);

 private:
  unsigned char Search(std::uint32_t colour);
  void ListCandidates(std::size_t cell);

  std::vector<int> red_, green_, blue_;
  int shift_;
  std::vector<std::uint32_t> known_;  // colour + 1 (0 is empty), by hash
  std::vector<unsigned char> index_;
  // For each bin's cube of 8 x 8 x 8 colours, once met: the palette colours that
  // can be the nearest to one of them, at cell_begin_ (kUnlisted before).
  static constexpr std::uint32_t kUnlisted = 0xFFFFFFFF;
  std::vector<std::uint32_t> cell_begin_;
  std::vector<unsigned char> cell_size_minus_one_, candidates_;
};

}  // namespace rastrel
