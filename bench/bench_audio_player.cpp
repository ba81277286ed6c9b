// Opening a player on long songs (it runs on the main thread), the memory one
// playing player holds, and raw decoding speed.

#include "platform/audio_decoder.h"
#include "platform/audio_player.h"
#include "platform/ffmpeg_handles.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace fotivela;

namespace {

constexpr int rate = 44100;

// A tone that moves, with a beat, so the encoder has real work.
float sample(std::int64_t i, int channel)
{
    const double t = static_cast<double>(i) / rate;
    const double beat = std::fmod(t, 0.5) < 0.05 ? 0.3 * std::exp(-std::fmod(t, 0.5) * 60.0) : 0.0;
    return static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * (220.0 + 20.0 * channel + 5.0 * std::sin(t)) * t) + beat);
}

void check(int result, const char* what)
{
    if (result < 0)
        throw std::runtime_error(std::string(what) + ": " + ffmpegErrorText(result));
}

void writeWav(const fs::path& file, double seconds)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* handle = sf_open(file.c_str(), SFM_WRITE, &info);
    if (handle == nullptr)
        throw std::runtime_error("cannot write wav");
    const std::int64_t total = static_cast<std::int64_t>(seconds * rate);
    std::vector<float> block(2 * 65536);
    for (std::int64_t start = 0; start < total; start += 65536) {
        const std::int64_t n = std::min<std::int64_t>(65536, total - start);
        for (std::int64_t i = 0; i < n; ++i)
            for (int c = 0; c < 2; ++c)
                block[static_cast<std::size_t>(i * 2 + c)] = sample(start + i, c);
        sf_writef_float(handle, block.data(), n);
    }
    sf_close(handle);
}

void writeMp3(const fs::path& file, double seconds)
{
    const AVCodec* encoder = avcodec_find_encoder_by_name("libmp3lame");
    if (encoder == nullptr)
        throw std::runtime_error("no libmp3lame");
    AVFormatContext* raw = nullptr;
    check(avformat_alloc_output_context2(&raw, nullptr, nullptr, file.c_str()), "format");
    const OutputFormatContextPtr format(raw);
    AVStream* stream = avformat_new_stream(format.get(), nullptr);
    const CodecContextPtr codec(avcodec_alloc_context3(encoder));
    codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    codec->sample_rate = rate;
    codec->bit_rate = 192000;
    codec->time_base = AVRational{1, rate};
    av_channel_layout_default(&codec->ch_layout, 2);
    check(avcodec_open2(codec.get(), encoder, nullptr), "encoder");
    check(avcodec_parameters_from_context(stream->codecpar, codec.get()), "parameters");
    stream->time_base = codec->time_base;
    check(avio_open(&format->pb, file.c_str(), AVIO_FLAG_WRITE), "open");
    check(avformat_write_header(format.get(), nullptr), "header");
    const PacketPtr packet(av_packet_alloc());
    const FramePtr frame(av_frame_alloc());
    const auto drain = [&] {
        while (avcodec_receive_packet(codec.get(), packet.get()) == 0) {
            av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            check(av_interleaved_write_frame(format.get(), packet.get()), "write");
        }
    };
    const std::int64_t total = static_cast<std::int64_t>(seconds * rate);
    for (std::int64_t start = 0; start < total; start += codec->frame_size) {
        const int n = static_cast<int>(std::min<std::int64_t>(codec->frame_size, total - start));
        av_frame_unref(frame.get());
        frame->format = AV_SAMPLE_FMT_FLTP;
        frame->nb_samples = n;
        frame->sample_rate = rate;
        av_channel_layout_copy(&frame->ch_layout, &codec->ch_layout);
        check(av_frame_get_buffer(frame.get(), 0), "buffer");
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < n; ++i)
                reinterpret_cast<float*>(frame->extended_data[c])[i] = sample(start + i, c);
        frame->pts = start;
        check(avcodec_send_frame(codec.get(), frame.get()), "send");
        drain();
    }
    avcodec_send_frame(codec.get(), nullptr);
    drain();
    check(av_write_trailer(format.get()), "trailer");
}

struct Songs {
    fs::path folder;
    fs::path mp3;
    fs::path wav;
    Songs()
    {
        std::string pattern = (fs::temp_directory_path() / "fotivela-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp");
        folder = pattern;
        mp3 = folder / "four-minutes.mp3";
        wav = folder / "ten-minutes.wav";
        writeMp3(mp3, 240.0);
        writeWav(wav, 600.0);
    }
    ~Songs() { fs::remove_all(folder); }
};

const Songs& songs()
{
    static const Songs instance;
    return instance;
}

void openPlayer(benchmark::State& state, const fs::path& file)
{
    for (auto _ : state) {
        AudioPlayer player(file);
        benchmark::DoNotOptimize(player.duration());
    }
}

void BM_OpenPlayer_Mp3FourMinutes(benchmark::State& state) { openPlayer(state, songs().mp3); }
void BM_OpenPlayer_WavTenMinutes(benchmark::State& state) { openPlayer(state, songs().wav); }
BENCHMARK(BM_OpenPlayer_Mp3FourMinutes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenPlayer_WavTenMinutes)->Unit(benchmark::kMillisecond);

// Open, then prepare and play: what the store does before the song sounds,
// with the output device already open.
void BM_OpenAndPlay_Mp3FourMinutes(benchmark::State& state)
{
    AudioPlayer keepsOutputOpen(songs().wav);
    keepsOutputOpen.prepareToPlay();
    for (auto _ : state) {
        AudioPlayer player(songs().mp3);
        benchmark::DoNotOptimize(player.play());
    }
}
BENCHMARK(BM_OpenAndPlay_Mp3FourMinutes)->Unit(benchmark::kMillisecond);

long residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

// Memory of one player playing the ten-minute song for a second, beyond what the
// process held with the output already open.
void BM_MemoryOfOnePlayingPlayer_WavTenMinutes(benchmark::State& state)
{
    AudioPlayer keepsOutputOpen(songs().mp3);
    keepsOutputOpen.prepareToPlay();
    for (auto _ : state) {
        const long before = residentBytes();
        const std::size_t heapBefore = mallinfo2().uordblks;
        AudioPlayer player(songs().wav);
        player.play();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        // Resident growth undercounts when earlier benchmarks left freed pages to reuse;
        // the heap in use does not.
        state.counters["heap_in_use_KiB"] = static_cast<double>(mallinfo2().uordblks - heapBefore) / 1024;
        state.counters["rss_growth_MiB"] = static_cast<double>(residentBytes() - before) / (1 << 20);
        state.counters["ring_KiB"] = static_cast<double>(player.bufferBytes()) / 1024;
        state.counters["played_s"] = player.currentTime();
    }
}
BENCHMARK(BM_MemoryOfOnePlayingPlayer_WavTenMinutes)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_DecodeWhole_Mp3FourMinutes(benchmark::State& state)
{
    std::int64_t frames = 0;
    for (auto _ : state) {
        AudioDecoder decoder(songs().mp3);
        std::vector<std::vector<float>> block;
        while (decoder.read(block, 8192) > 0)
            frames += static_cast<std::int64_t>(block[0].size());
    }
    state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(frames) / rate, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeWhole_Mp3FourMinutes)->Unit(benchmark::kMillisecond);

void BM_DecodeWhole_WavTenMinutes(benchmark::State& state)
{
    std::int64_t frames = 0;
    for (auto _ : state) {
        AudioDecoder decoder(songs().wav);
        std::vector<std::vector<float>> block;
        while (decoder.read(block, 65536) > 0)
            frames += static_cast<std::int64_t>(block[0].size());
    }
    state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(frames) / rate, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeWhole_WavTenMinutes)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    // A benchmark machine may have no sound server; the players then run silently.
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    songs();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
