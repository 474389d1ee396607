// A JACK client for the live tests and the latency bench: plays a phrase into the quibblers
// client's input a number of times, and records on the server's one clock what it played (left)
// and what quibblers played (right) into a stereo 16-bit WAV file. Exits 0 when done.
// Usage: jack_loop PHRASE.wav COUNT SPACING_SECONDS OUT.wav [CLIENT]
#include <jack/jack.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "WavFile.h"

namespace {
struct Loop {
  jack_port_t* feed = nullptr;
  jack_port_t* heard = nullptr;
  std::vector<std::int16_t> phrase;
  std::size_t spacing = 0;  // frames from one phrase's start to the next
  std::size_t count = 0;
  std::vector<std::int16_t> recording;  // interleaved, preallocated
  std::atomic<std::size_t> frame{0};
};

float toFloat(std::int16_t s) { return static_cast<float>(s) / 32768.0f; }
std::int16_t toInt(float f) { return static_cast<std::int16_t>(std::lround(std::clamp(f, -1.0f, 1.0f) * 32767.0f)); }

int process(jack_nframes_t frames, void* arg) {
  auto* loop = static_cast<Loop*>(arg);
  auto* out = static_cast<float*>(jack_port_get_buffer(loop->feed, frames));
  auto* in = static_cast<const float*>(jack_port_get_buffer(loop->heard, frames));
  std::size_t at = loop->frame.load(std::memory_order_relaxed);
  for (jack_nframes_t i = 0; i < frames; ++i, ++at) {
    const std::size_t which = at / loop->spacing;
    const std::size_t into = at % loop->spacing;
    const std::int16_t played = which < loop->count && into < loop->phrase.size() ? loop->phrase[into] : 0;
    out[i] = toFloat(played);
    if (2 * at + 1 < loop->recording.size()) {
      loop->recording[2 * at] = played;
      loop->recording[2 * at + 1] = toInt(in[i]);
    }
  }
  loop->frame.store(at, std::memory_order_relaxed);
  return 0;
}

// The first port of `client` with `flags` (JackPortIsInput / JackPortIsOutput).
std::string portOf(jack_client_t* jack, const std::string& client, unsigned long flags) {
  const char** ports = jack_get_ports(jack, (client + ":.*").c_str(), JACK_DEFAULT_AUDIO_TYPE, flags);
  std::string name = ports && ports[0] ? ports[0] : "";
  if (ports) jack_free(ports);
  return name;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: jack_loop PHRASE.wav COUNT SPACING_SECONDS OUT.wav [CLIENT]\n");
    return 2;
  }
  auto phrase = platform::readMonoWav16(argv[1]);
  if (!phrase.ok()) {
    std::fprintf(stderr, "jack_loop: %s\n", phrase.error.c_str());
    return 1;
  }
  const std::string client = argc > 5 ? argv[5] : "quibblers";
  Loop loop;
  loop.phrase = std::move(phrase.samples);
  loop.count = std::strtoul(argv[2], nullptr, 10);
  loop.spacing = static_cast<std::size_t>(std::atof(argv[3]) * 44100);
  loop.spacing = std::max(loop.spacing, loop.phrase.size());
  const std::size_t total = loop.count * loop.spacing + 44100;
  loop.recording.assign(2 * total, 0);

  jack_status_t status;
  jack_client_t* jack = jack_client_open("qb-loop", JackNoStartServer, &status);
  if (!jack) {
    std::fprintf(stderr, "jack_loop: no JACK server\n");
    return 1;
  }
  loop.feed = jack_port_register(jack, "feed", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  loop.heard = jack_port_register(jack, "heard", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  jack_set_process_callback(jack, process, &loop);
  if (jack_activate(jack) != 0) return 1;
  const std::string appIn = portOf(jack, client, JackPortIsInput);
  const std::string appOut = portOf(jack, client, JackPortIsOutput);
  if (appIn.empty() || appOut.empty() || jack_connect(jack, jack_port_name(loop.feed), appIn.c_str()) != 0 ||
      jack_connect(jack, appOut.c_str(), jack_port_name(loop.heard)) != 0) {
    std::fprintf(stderr, "jack_loop: cannot connect to the ports of '%s'\n", client.c_str());
    jack_client_close(jack);
    return 1;
  }
  loop.frame = 0;  // the phrases start once the ports are connected
  while (loop.frame.load() < total) usleep(50000);
  jack_client_close(jack);
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* out = sf_open(argv[4], SFM_WRITE, &info);
  if (!out) return 1;
  const bool written = sf_writef_short(out, loop.recording.data(), static_cast<sf_count_t>(total)) ==
                       static_cast<sf_count_t>(total);
  return sf_close(out) == 0 && written ? 0 : 1;
}
