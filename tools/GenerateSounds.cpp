// GenerateSounds <output-folder>
//
// Writes the standard event sounds as 16-bit mono PCM wave files at 22050 Hz.
// Every sound is a sum of enveloped sine partials, scaled so that its loudest
// sample reaches a fixed peak; the output is the same bytes on every run.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int kSampleRate = 22050;
constexpr double kPi = 3.14159265358979323846;
constexpr double kReleaseSeconds = 0.012;  // fade to silence at the end of every note

struct Partial {
    double ratio;      // frequency relative to the note
    double amplitude;  // relative to the fundamental
    double decayRate;  // multiplies the note's decay speed
};

struct Note {
    double start;      // seconds from the start of the sound
    double length;     // seconds, including the release
    double frequency;  // Hz
    double amplitude;  // relative level before the sound is scaled to its peak
    double attack;     // seconds of the raised-cosine rise
    double decay;      // time constant of the exponential decay, seconds
    std::vector<Partial> partials;
};

struct Sound {
    std::string fileName;
    double peak;  // loudest sample as a fraction of full scale
    std::vector<Note> notes;
};

int ToSamples(double seconds) {
    return static_cast<int>(std::lround(seconds * kSampleRate));
}

const std::vector<Partial> kPure{{1.0, 1.0, 1.0}};
const std::vector<Partial> kWarm{{1.0, 1.0, 1.0}, {2.0, 0.18, 1.8}, {3.0, 0.05, 2.5}};
const std::vector<Partial> kBeep{{1.0, 1.0, 1.0}, {3.0, 0.22, 1.0}, {5.0, 0.08, 1.0}};
// Partials of a struck bell: hum, prime, minor third, fifth, nominal and two upper ones.
const std::vector<Partial> kBell{{0.5, 0.35, 0.6}, {1.0, 1.0, 1.0}, {1.2, 0.45, 1.3},
                                 {1.5, 0.3, 1.5},  {2.0, 0.6, 1.8}, {2.74, 0.22, 2.6},
                                 {3.76, 0.12, 3.4}};

std::vector<Sound> StandardSounds() {
    return {
        // Soft, low single tone.
        {"Away.wav", 0.30, {{0.0, 0.50, 220.00, 1.0, 0.030, 0.20, kWarm}}},
        // Playful rising arpeggio C5 E5 G5, the last note ringing.
        {"Lunch.wav",
         0.45,
         {{0.00, 0.14, 523.25, 1.0, 0.005, 0.08, kWarm},
          {0.09, 0.14, 659.26, 1.0, 0.005, 0.08, kWarm},
          {0.18, 0.30, 783.99, 1.0, 0.005, 0.12, kWarm}}},
        // Rising fifth C5 -> G5.
        {"online.wav",
         0.45,
         {{0.00, 0.20, 523.25, 1.0, 0.006, 0.10, kWarm},
          {0.13, 0.30, 783.99, 1.0, 0.006, 0.12, kWarm}}},
        // Falling fifth G4 -> C4.
        {"offline.wav",
         0.45,
         {{0.00, 0.20, 392.00, 1.0, 0.006, 0.10, kWarm},
          {0.13, 0.32, 261.63, 1.0, 0.006, 0.14, kWarm}}},
        // Bright two-tone notification E6 -> A6.
        {"message.wav",
         0.50,
         {{0.00, 0.16, 1318.51, 1.0, 0.004, 0.07, kPure},
          {0.10, 0.28, 1760.00, 0.9, 0.004, 0.10, kPure}}},
        // Two short low beeps.
        {"DND.wav",
         0.32,
         {{0.00, 0.09, 293.66, 1.0, 0.006, 0.10, kBeep},
          {0.15, 0.09, 293.66, 1.0, 0.006, 0.10, kBeep}}},
        // Struck bell on C5, ringing out.
        {"Bell.wav", 0.60, {{0.0, 0.60, 523.25, 1.0, 0.002, 0.32, kBell}}},
        // One short, quiet blip.
        {"SmallMsg.wav", 0.25, {{0.0, 0.15, 1567.98, 1.0, 0.004, 0.05, kPure}}},
    };
}

double Envelope(int index, int count, const Note& note, double decayRate) {
    const double t = static_cast<double>(index) / kSampleRate;
    double level = std::exp(-std::max(0.0, t - note.attack) * decayRate / note.decay);
    if (t < note.attack) {
        level *= 0.5 - 0.5 * std::cos(kPi * t / note.attack);
    }
    const int release = ToSamples(kReleaseSeconds);
    const int left = count - 1 - index;
    if (left < release) {
        level *= 0.5 - 0.5 * std::cos(kPi * static_cast<double>(left) / release);
    }
    return level;
}

std::vector<double> Render(const Sound& sound) {
    int total = 0;
    for (const Note& note : sound.notes) {
        total = std::max(total, ToSamples(note.start) + ToSamples(note.length));
    }
    std::vector<double> mix(static_cast<std::size_t>(total), 0.0);
    for (const Note& note : sound.notes) {
        const int first = ToSamples(note.start);
        const int count = ToSamples(note.length);
        for (const Partial& partial : note.partials) {
            const double step = 2.0 * kPi * note.frequency * partial.ratio / kSampleRate;
            for (int i = 0; i < count; ++i) {
                mix[static_cast<std::size_t>(first + i)] +=
                    note.amplitude * partial.amplitude *
                    Envelope(i, count, note, partial.decayRate) * std::sin(step * i);
            }
        }
    }
    return mix;
}

std::vector<int16_t> Quantise(const std::vector<double>& mix, double peak) {
    double loudest = 0.0;
    for (double value : mix) {
        loudest = std::max(loudest, std::fabs(value));
    }
    const double scale = loudest > 0.0 ? peak * 32767.0 / loudest : 0.0;
    std::vector<int16_t> samples;
    samples.reserve(mix.size());
    for (double value : mix) {
        const long quantised = std::clamp(std::lround(value * scale), -32767L, 32767L);
        samples.push_back(static_cast<int16_t>(quantised));
    }
    return samples;
}

void PutU16(std::string& out, uint16_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}

void PutU32(std::string& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
}

std::string WaveFile(const std::vector<int16_t>& samples) {
    constexpr uint16_t kChannels = 1;
    constexpr uint16_t kBitsPerSample = 16;
    constexpr uint16_t kBlockAlign = kChannels * kBitsPerSample / 8;
    const auto dataSize = static_cast<uint32_t>(samples.size() * kBlockAlign);

    std::string out;
    out.reserve(44 + dataSize);
    out += "RIFF";
    PutU32(out, 36 + dataSize);
    out += "WAVE";
    out += "fmt ";
    PutU32(out, 16);
    PutU16(out, 1);  // PCM
    PutU16(out, kChannels);
    PutU32(out, kSampleRate);
    PutU32(out, kSampleRate * kBlockAlign);
    PutU16(out, kBlockAlign);
    PutU16(out, kBitsPerSample);
    out += "data";
    PutU32(out, dataSize);
    for (int16_t sample : samples) {
        PutU16(out, static_cast<uint16_t>(sample));
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: GenerateSounds <output-folder>\n";
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::cerr << "GenerateSounds: cannot create " << folder.string() << ": " << error.message()
                  << '\n';
        return 1;
    }
    for (const Sound& sound : StandardSounds()) {
        const std::filesystem::path path = folder / sound.fileName;
        const std::string bytes = WaveFile(Quantise(Render(sound), sound.peak));
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        file.close();
        if (!file) {
            std::cerr << "GenerateSounds: cannot write " << path.string() << '\n';
            return 1;
        }
    }
    return 0;
}
