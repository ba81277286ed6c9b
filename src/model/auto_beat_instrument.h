#pragma once

#include "model/stored_enum.h"

#include <set>

namespace fotivela {

// Instrument whose markers automatic placement can use.
enum class AutoBeatInstrument { drums, kick, clapSnare, cymbalHats, bass, vocals, other };

template <>
struct StoredEnum<AutoBeatInstrument> {
    static constexpr std::array<std::pair<AutoBeatInstrument, std::string_view>, 7> table{{
        {AutoBeatInstrument::drums, "Bateria completa"},
        {AutoBeatInstrument::kick, "Bombo"},
        {AutoBeatInstrument::clapSnare, "Caja / clap"},
        {AutoBeatInstrument::cymbalHats, "Platillos / hats"},
        {AutoBeatInstrument::bass, "Bajo"},
        {AutoBeatInstrument::vocals, "Voz"},
        {AutoBeatInstrument::other, "Resto"},
    }};
};

// The instruments whose markers come straight from a separated stem of their own.
inline const std::set<AutoBeatInstrument>& demucsStemInstrumentSet()
{
    static const std::set<AutoBeatInstrument> set{AutoBeatInstrument::drums, AutoBeatInstrument::bass,
                                                  AutoBeatInstrument::vocals, AutoBeatInstrument::other};
    return set;
}

// One separated stem.
enum class AudioStem { drums, bass, vocals, other };

template <>
struct StoredEnum<AudioStem> {
    static constexpr std::array<std::pair<AudioStem, std::string_view>, 4> table{{
        {AudioStem::drums, "Bateria"},
        {AudioStem::bass, "Bajo"},
        {AudioStem::vocals, "Voz"},
        {AudioStem::other, "Resto"},
    }};
};

} // namespace fotivela
