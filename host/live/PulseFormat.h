// The sound server's sample-format record, named once for the playback and
// capture streams: the type pa_simple_new takes as its sample format.
#pragma once

#include <pulse/simple.h>

#include <tuple>
#include <type_traits>

namespace tw {

template <typename F>
struct PulseFormatOf;
template <typename R, typename... A>
struct PulseFormatOf<R (*)(A...)> {
  using type = std::remove_const_t<std::remove_pointer_t<std::tuple_element_t<5, std::tuple<A...>>>>;
};
// Channels, rate and sample type of a stream.
using PulseFormat = PulseFormatOf<decltype(&pa_simple_new)>::type;

inline PulseFormat stereo16(int sampleRate) {
  PulseFormat f{};
  f.format = PA_SAMPLE_S16LE;
  f.rate = uint32_t(sampleRate);
  f.channels = 2;
  return f;
}

}  // namespace tw
