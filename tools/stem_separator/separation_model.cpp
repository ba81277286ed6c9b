#include "separation_model.h"

#include "separation_error.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <sstream>

namespace fotivela::stem_separator {

namespace {

using nlohmann::json;

[[noreturn]] void invalid(const std::string& what, const std::string& why)
{
    throw SeparationError("El modelo de separación " + what + " no es válido: " + why + ".");
}

double number(const json& object, const char* key, double fallback, const std::string& what)
{
    if (!object.contains(key))
        return fallback;
    const json& value = object.at(key);
    if (!value.is_number() || !std::isfinite(value.get<double>()))
        invalid(what, std::string("«") + key + "» no es un número");
    return value.get<double>();
}

int integer(const json& object, const char* key, int fallback, int minimum, int maximum, const std::string& what)
{
    if (!object.contains(key))
        return fallback;
    const json& value = object.at(key);
    if (!value.is_number_integer() || value.get<long long>() < minimum || value.get<long long>() > maximum)
        invalid(what, std::string("«") + key + "» fuera de " + std::to_string(minimum) + "–" + std::to_string(maximum));
    return value.get<int>();
}

FrequencyRamp ramp(const json& object, const char* key, FrequencyRamp fallback, const std::string& what)
{
    if (!object.contains(key))
        return fallback;
    const json& value = object.at(key);
    if (!value.is_object())
        invalid(what, std::string("«") + key + "» no es un objeto");
    FrequencyRamp result{number(value, "fromHz", fallback.fromHz, what), number(value, "toHz", fallback.toHz, what)};
    if (result.fromHz < 0 || result.toHz < 0 || result.fromHz == result.toHz)
        invalid(what, std::string("«") + key + "» no es una rampa");
    return result;
}

bool isPowerOfTwo(int value)
{
    return value > 0 && (value & (value - 1)) == 0;
}

} // namespace

SeparationModel parseSeparationModel(const std::string& text, const std::string& what)
{
    const json root = json::parse(text, nullptr, false);
    if (root.is_discarded() || !root.is_object())
        invalid(what, "no es un objeto JSON");
    if (!root.contains("version") || !root.at("version").is_string() || root.at("version").get<std::string>().empty())
        invalid(what, "falta «version»");

    SeparationModel model;
    model.version = root.at("version").get<std::string>();
    model.fftSize = integer(root, "fftSize", model.fftSize, 256, 32768, what);
    if (!isPowerOfTwo(model.fftSize))
        invalid(what, "«fftSize» no es una potencia de dos");
    // Overlap-add with a Hann window squared sums to a constant at a quarter of the window.
    model.hopSize = integer(root, "hopSize", model.fftSize / 4, 1, model.fftSize, what);
    if (model.hopSize * 4 != model.fftSize)
        invalid(what, "«hopSize» debe ser la cuarta parte de «fftSize»");
    model.harmonicMedianFrames = integer(root, "harmonicMedianFrames", model.harmonicMedianFrames, 1, 255, what);
    model.percussiveMedianBins = integer(root, "percussiveMedianBins", model.percussiveMedianBins, 1, 255, what);
    model.bassMedianFrames = integer(root, "bassMedianFrames", model.bassMedianFrames, 0, 255, what);
    if (model.harmonicMedianFrames % 2 == 0 || model.percussiveMedianBins % 2 == 0
        || (model.bassMedianFrames != 0 && model.bassMedianFrames % 2 == 0))
        invalid(what, "las longitudes de mediana deben ser impares");
    model.bassPercussiveMedianBins = integer(root, "bassPercussiveMedianBins", model.bassPercussiveMedianBins, 0, 255, what);
    if (model.bassPercussiveMedianBins != 0 && model.bassPercussiveMedianBins % 2 == 0)
        invalid(what, "las longitudes de mediana deben ser impares");
    if (model.bassMedianFrames > model.harmonicMedianFrames)
        invalid(what, "«bassMedianFrames» no puede ser mayor que «harmonicMedianFrames»");
    model.maskPower = number(root, "maskPower", model.maskPower, what);
    if (model.maskPower <= 0 || model.maskPower > 16)
        invalid(what, "«maskPower» fuera de 0–16");
    model.bassBand = ramp(root, "bassBand", model.bassBand, what);
    model.bassNoteMaxHz = number(root, "bassNoteMaxHz", model.bassNoteMaxHz, what);
    if (model.bassNoteMaxHz < 0 || model.bassNoteMaxHz > 1000)
        invalid(what, "«bassNoteMaxHz» fuera de 0–1000");
    model.bassHarmonics = integer(root, "bassHarmonics", model.bassHarmonics, 0, 64, what);
    model.bassHarmonicWidthBins = number(root, "bassHarmonicWidthBins", model.bassHarmonicWidthBins, what);
    if (model.bassHarmonicWidthBins < 0 || model.bassHarmonicWidthBins > 16)
        invalid(what, "«bassHarmonicWidthBins» fuera de 0–16");
    model.bassNoteMinHz = number(root, "bassNoteMinHz", model.bassNoteMinHz, what);
    if (model.bassNoteMinHz < 0 || model.bassNoteMinHz > model.bassNoteMaxHz)
        invalid(what, "«bassNoteMinHz» fuera de 0–«bassNoteMaxHz»");
    model.bassNoteLowestShare = number(root, "bassNoteLowestShare", model.bassNoteLowestShare, what);
    if (model.bassNoteLowestShare <= 0 || model.bassNoteLowestShare > 1)
        invalid(what, "«bassNoteLowestShare» fuera de 0–1");
    model.bassHarmonicContrast = number(root, "bassHarmonicContrast", model.bassHarmonicContrast, what);
    if (model.bassHarmonicContrast < 0 || model.bassHarmonicContrast > 100)
        invalid(what, "«bassHarmonicContrast» fuera de 0–100");
    model.bassHoldFrames = integer(root, "bassHoldFrames", model.bassHoldFrames, 0, 16, what);
    model.lowTransientMargin = number(root, "lowTransientMargin", model.lowTransientMargin, what);
    if (model.lowTransientMargin != 0 && (model.lowTransientMargin < 1 || model.lowTransientMargin > 100))
        invalid(what, "«lowTransientMargin» debe ser 0 o estar entre 1 y 100");
    model.preEchoLookaheadMs = number(root, "preEchoLookaheadMs", model.preEchoLookaheadMs, what);
    model.preEchoRatioDb = number(root, "preEchoRatioDb", model.preEchoRatioDb, what);
    if (model.preEchoLookaheadMs < 0 || model.preEchoLookaheadMs > 500 || model.preEchoRatioDb < 0
        || model.preEchoRatioDb > 60)
        invalid(what, "«preEchoLookaheadMs» o «preEchoRatioDb» fuera de rango");
    model.preEchoBassHz = number(root, "preEchoBassHz", model.preEchoBassHz, what);
    if (model.preEchoBassHz < 0 || model.preEchoBassHz > 2000)
        invalid(what, "«preEchoBassHz» fuera de 0–2000");
    model.preEchoTailMs = number(root, "preEchoTailMs", model.preEchoTailMs, what);
    if (model.preEchoTailMs < 0 || model.preEchoTailMs > 500)
        invalid(what, "«preEchoTailMs» fuera de 0–500");
    model.bassPreEchoLookaheadMs = number(root, "bassPreEchoLookaheadMs", model.bassPreEchoLookaheadMs, what);
    model.bassPreEchoRatioDb = number(root, "bassPreEchoRatioDb", model.bassPreEchoRatioDb, what);
    if (model.bassPreEchoLookaheadMs < 0 || model.bassPreEchoLookaheadMs > 500 || model.bassPreEchoRatioDb < 0
        || model.bassPreEchoRatioDb > 60)
        invalid(what, "«bassPreEchoLookaheadMs» o «bassPreEchoRatioDb» fuera de rango");
    model.kickBand = ramp(root, "kickBand", model.kickBand, what);
    model.kickLookbackSeconds = number(root, "kickLookbackSeconds", model.kickLookbackSeconds, what);
    model.kickRiseRatio = number(root, "kickRiseRatio", model.kickRiseRatio, what);
    model.kickSweepRatio = number(root, "kickSweepRatio", model.kickSweepRatio, what);
    model.kickShortestDecaySeconds = number(root, "kickShortestDecaySeconds", model.kickShortestDecaySeconds, what);
    model.kickLongestDecaySeconds = number(root, "kickLongestDecaySeconds", model.kickLongestDecaySeconds, what);
    if (model.kickBand.toHz <= model.kickBand.fromHz || model.kickLookbackSeconds < 0 || model.kickLookbackSeconds > 4
        || model.kickRiseRatio < 1 || model.kickSweepRatio < 1 || model.kickShortestDecaySeconds <= 0
        || model.kickLongestDecaySeconds < model.kickShortestDecaySeconds || model.kickLongestDecaySeconds > 10)
        invalid(what, "los valores de «kick…» están fuera de rango");
    model.voiceLow = ramp(root, "voiceLow", model.voiceLow, what);
    model.voiceHigh = ramp(root, "voiceHigh", model.voiceHigh, what);
    model.centrePower = number(root, "centrePower", model.centrePower, what);
    if (model.centrePower < 0 || model.centrePower > 64)
        invalid(what, "«centrePower» fuera de 0–64");
    model.bassCentrePower = number(root, "bassCentrePower", model.bassCentrePower, what);
    if (model.bassCentrePower < 0 || model.bassCentrePower > 64)
        invalid(what, "«bassCentrePower» fuera de 0–64");
    model.centreSmoothingFrames = integer(root, "centreSmoothingFrames", model.centreSmoothingFrames, 0, 32, what);
    model.refineMaskFrames = integer(root, "refineMaskFrames", model.refineMaskFrames, 0, 16, what);
    model.refineMaskFramesAhead = integer(root, "refineMaskFramesAhead", model.refineMaskFramesAhead, 0, 16, what);
    model.refineMaskBins = integer(root, "refineMaskBins", model.refineMaskBins, 0, 64, what);
    model.refineMaskPower = number(root, "refineMaskPower", model.refineMaskPower, what);
    if (model.refineMaskPower < 0.1 || model.refineMaskPower > 8)
        invalid(what, "«refineMaskPower» fuera de 0,1–8");
    return model;
}

SeparationModel readSeparationModel(const std::filesystem::path& folder, const std::string& name)
{
    const std::filesystem::path file = folder / (name + ".json");
    const std::string what = "«" + name + "»";
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        throw SeparationError("No se encontró el modelo de separación " + what + " en " + folder.string() + ".");
    std::ifstream stream(file, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    if (!stream.good() && !stream.eof())
        throw SeparationError("No se pudo leer el modelo de separación " + what + ".");
    return parseSeparationModel(text.str(), what);
}

} // namespace fotivela::stem_separator
