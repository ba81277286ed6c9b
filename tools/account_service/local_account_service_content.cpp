#include "account_service/local_account_service.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

namespace fotivela::tools {

namespace {

constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void putLE(std::string& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

} // namespace

std::string synthesisedSongWav(double seconds)
{
    constexpr int rate = 44100;
    constexpr int channels = 2;
    const double length = std::clamp(std::isfinite(seconds) ? seconds : 5.0, 5.0, 60.0);
    const auto frames = static_cast<std::uint32_t>(length * rate);
    const std::uint32_t dataBytes = frames * channels * 2;

    std::string out;
    out.reserve(44 + dataBytes);
    out += "RIFF";
    putLE(out, 36 + dataBytes, 4);
    out += "WAVEfmt ";
    putLE(out, 16, 4);
    putLE(out, 1, 2);
    putLE(out, channels, 2);
    putLE(out, rate, 4);
    putLE(out, rate * channels * 2, 4);
    putLE(out, channels * 2, 2);
    putLE(out, 16, 2);
    out += "data";
    putLE(out, dataBytes, 4);

    const int beat = rate / 2;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const int sinceBeat = static_cast<int>(i % static_cast<std::uint32_t>(beat));
        // A decaying noise-like click on every half second, louder on every bar.
        const double accent = (i / static_cast<std::uint32_t>(beat)) % 4 == 0 ? 0.9 : 0.6;
        const double click = sinceBeat < 2200 ? accent * std::exp(-sinceBeat / 300.0) * std::sin(2 * std::numbers::pi * 1800 * t) : 0.0;
        const double tone = 0.12 * std::sin(2 * std::numbers::pi * 220 * t);
        const double sample = std::clamp(click + tone, -1.0, 1.0);
        const auto value = static_cast<std::int16_t>(sample * 32000);
        for (int c = 0; c < channels; ++c)
            putLE(out, static_cast<std::uint16_t>(value), 2);
    }
    return out;
}

std::string base64Encoded(const std::string& bytes)
{
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k)
            group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        out.push_back(alphabet[(group >> 18) & 63]);
        out.push_back(alphabet[(group >> 12) & 63]);
        out.push_back(n > 1 ? alphabet[(group >> 6) & 63] : '=');
        out.push_back(n > 2 ? alphabet[group & 63] : '=');
    }
    return out;
}

std::optional<std::string> base64Decoded(const std::string& text)
{
    std::string out;
    std::uint32_t group = 0;
    int bits = 0;
    for (const char c : text) {
        if (c == '=')
            break;
        const auto position = alphabet.find(c);
        if (position == std::string_view::npos)
            return std::nullopt;
        group = (group << 6) | static_cast<std::uint32_t>(position);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((group >> bits) & 0xff));
        }
    }
    return out;
}

std::string lyricsFromTemplate(const std::string& subject, std::int64_t slideCount, const std::string& style,
                               const std::string& notes)
{
    const std::string who = subject.empty() ? "nosotros" : subject;
    std::string text = "Letra:\n";
    text += "En " + std::to_string(slideCount) + " fotos guardamos el verano de " + who + ",\n";
    text += "la luz de la tarde sobre el mar,\n";
    text += "cada instante vuelve a sonar,\n";
    text += who + ", esta canción es para ti.\n";
    if (!notes.empty())
        text += "(" + notes + ")\n";
    text += "\nEstilo musical: " + (style.empty() ? std::string("Pop calido, suave") : style) + "\n";
    return text;
}

} // namespace fotivela::tools
