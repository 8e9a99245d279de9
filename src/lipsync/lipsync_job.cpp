// The analysis of one audio block: ring -> low-pass -> down-sample -> frame
// conditioning -> magnitude spectrum -> mel bank -> decibels -> cepstrum ->
// MFCC and scores. Every step that a kernel entry also exports is run through
// that kernel, so the job and the entries cannot drift apart.
#include "lipsync/lipsync_job.h"

#include <cstring>

#include "dsp/algorithm.h"
#include "frame/native_array.h"

namespace Orovox::OROVOX_SET {
namespace {

constexpr float kEmphasis = 0.97f;
constexpr float kTransitionWidth = 500.0f;  // Hz below the cutoff where the filter rolls off

}  // namespace

void LipSyncJob::Execute() {
  const int32_t L = samples.length;

  // Steps 1 and 13: the volume is the RMS of the block as stored, taken
  // before anything else runs. Ring order does not matter for a sum of
  // squares, but the summation order does, so it is storage order.
  const float volume = Algorithm::RootMeanSquare(samples.elements, L);

  // (writePosition + i) rem L is ((writePosition rem L) + i) rem L for every
  // valid position, so the ring is unrolled from the reduced position. A
  // negative position, or one whose sum would wrap, then counts around the
  // ring instead of addressing memory before it.
  int32_t start = 0;
  if (L > 0) {
    start = writePosition % L;
    if (start < 0) start += L;
  }
  NativeArray<float> unrolled = CreateTemporary<float>(L);
  Algorithm::UnrollRingBuffer(samples.elements, unrolled.elements, L, start);

  // The halving is integer division: an odd rate loses its half hertz.
  Algorithm::LowPassFilter(unrolled, static_cast<float>(inputRate), static_cast<float>(analysisRate / 2),
                           kTransitionWidth);

  NativeArray<float> frame{nullptr, 0, kAllocatorInvalid};
  Algorithm::DownSample(unrolled, frame, inputRate, analysisRate);
  const int32_t N = frame.length;

  // Pre-emphasis reads a copy of the frame: run in place it would feed each
  // rewritten element into the next and become a recursive filter.
  NativeArray<float> emphasisCopy = CreateTemporaryCopy(frame);
  Algorithm::PreEmphasize(frame.elements, emphasisCopy.elements, N, kEmphasis);
  FreeScratch(emphasisCopy.elements);

  Algorithm::ApplyHamming(frame.elements, N);
  Algorithm::NormalizePeak(frame.elements, N, 1.0f);

  // The spectrum's real and imaginary work arrays are MagnitudeSpectrum's
  // own scratch buffers: created after S, freed real first.
  NativeArray<float> spectrum = CreateTemporary<float>(N);
  Algorithm::MagnitudeSpectrum(frame.elements, spectrum.elements, N);

  NativeArray<float> mel{nullptr, 0, kAllocatorInvalid};
  Algorithm::MelFilterBank(spectrum, mel, static_cast<float>(analysisRate), melChannelCount);
  const int32_t C = mel.length;
  Algorithm::PowerToDecibel(mel.elements, C);

  float* cepstrum = AllocateScratch<float>(C);
  Algorithm::CosineTransform(mel.elements, cepstrum, C);

  // MFCC i is cepstrum i + 1; Q[0] (the overall level) is not reported. A
  // host asking for more coefficients than the cepstrum has past Q[0] gets
  // zeros for the missing ones rather than memory beyond the cepstrum.
  const int32_t m = mfccOut.length;
  if (m > 0) {
    const int32_t available = C - 1 < m ? (C - 1 > 0 ? C - 1 : 0) : m;
    if (available > 0) std::memcpy(mfccOut.elements, cepstrum + 1, static_cast<size_t>(available) * sizeof(float));
    if (available < m) std::memset(mfccOut.elements + available, 0, static_cast<size_t>(m - available) * sizeof(float));
  }

  const int32_t mainPhoneme = ScorePhonemes(*this);

  summary.elements[0].volume = volume;
  summary.elements[0].mainPhonemeIndex = mainPhoneme;

  Dispose(unrolled);
  Dispose(frame);
  Dispose(spectrum);
  Dispose(mel);
  FreeScratch(cepstrum);
}

}  // namespace Orovox::OROVOX_SET
