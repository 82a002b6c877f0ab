// The multiband section's signals: six bands by two channels, written by the
// split and refined stage by stage until the band sum folds them back.
#pragma once

namespace vantle {

constexpr int kBands = 6;
constexpr int kChannels = 2;

struct BandSignals {
  double bandSignal[kChannels][kBands] = {};   // the split's output
  double clippedBand[kChannels][kBands] = {};  // after the band clippers
  double gainedBand[kChannels][kBands] = {};   // after the band gains
  double limitedBand[kChannels][kBands] = {};  // after the stream band limiters
  double mixedBand[kChannels][kBands] = {};    // the band mix, balanced and summed downstream
};

}  // namespace vantle
