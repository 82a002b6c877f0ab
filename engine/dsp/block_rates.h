// Frames per block of the states that move slower than the frame rate, each
// named by what it paces. A block-rate pole is derived with the same count
// its counter wraps at (blockPole(tau, fs, frames)).
#pragma once

namespace vantle {

// Frames that run through one stage before the next stage takes them: each
// stage then keeps its coefficients and memories at hand for a run of
// frames instead of fetching them again every frame.
constexpr int kChainBlock = 16;

// Calls run(first, count) over frames 0..frames-1 in runs of at most
// kChainBlock frames: a stage whose passes keep a block's values in arrays
// of that size takes any number of frames through it.
template <typename Run>
void forEachChainBlock(int frames, Run&& run) {
  for (int first = 0; first < frames; first += kChainBlock) {
    run(first, frames - first < kChainBlock ? frames - first : kChainBlock);
  }
}

// Band analysis: the slow measurements, the scores and the equaliser gains.
constexpr int kAnalysisBlock = 16;
// Band analysis: the low-end equaliser redesigned from its gains.
constexpr int kRedesignPeriod = 64;
// Spectral balance: the block mean powers and the band gains.
constexpr int kBalanceBlock = 32;
// Stream band make-up of the band limiters and the band mix.
constexpr int kMakeupBlock = 16;
// Limiter load feedback: counted by the chain, after the true-peak limiter.
constexpr int kLoadBlock = 64;

}  // namespace vantle
