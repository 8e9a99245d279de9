// Real-time use: audio arrives in small blocks (here a synthetic voice at
// 48 kHz, as a sound card would deliver it) and the game asks for one frame
// per rendered video frame.
//
//   examples/realtime [profile.json]
#include <cmath>
#include <cstdio>
#include <vector>

#include "orovox/orovox.h"

int main(int argc, char** argv) {
  try {
    const Orovox::Profile profile = argc > 1 ? Orovox::Profile::Load(argv[1]) : Orovox::Profile::Default();
    const int rate = 48000;
    Orovox::Analyzer analyzer(profile, rate);
    std::printf("block of %zu samples (%.1f ms) at %d Hz\n", analyzer.blockLength(),
                1000.0 * analyzer.blockLength() / rate, rate);

    // Two seconds of a buzzing voice with a changing formant, delivered in
    // audio callbacks of 480 samples (10 ms) and read at 60 video frames per second.
    const int callback = 480;
    std::vector<float> chunk(callback);
    double phase = 0;
    long delivered = 0, nextFrame = 0;
    for (int c = 0; c < 2 * rate / callback; ++c) {
      for (float& x : chunk) {
        const double t = static_cast<double>(delivered++) / rate;
        const double formant = 500 + 1500 * (0.5 + 0.5 * std::sin(2 * M_PI * 0.5 * t));
        phase += 2 * M_PI * 140 / rate;
        x = static_cast<float>(0.2 * std::sin(phase) * (0.6 + 0.4 * std::sin(2 * M_PI * formant * t)));
      }
      analyzer.push(chunk);  // from the audio callback

      while (delivered >= nextFrame) {  // the game loop, 60 times a second
        const Orovox::Frame f = analyzer.analyze();
        if (nextFrame % (rate / 4) == 0)
          std::printf("t=%.2fs volume %.3f mouth %s\n", static_cast<double>(nextFrame) / rate, f.volume,
                      f.mainPhoneme >= 0 ? profile.names[static_cast<size_t>(f.mainPhoneme)].c_str() : "(rest)");
        nextFrame += rate / 60;
      }
    }
  } catch (const Orovox::Error& e) {
    std::fprintf(stderr, "realtime: %s\n", e.what());
    return 1;
  }
  return 0;
}
