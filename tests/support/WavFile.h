#pragma once
// Writes a 16-bit mono WAV file: tests keep a failing recording for a person to listen to.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

inline void WriteWav16(const std::filesystem::path& path, const std::vector<std::int16_t>& samples,
                       std::uint32_t rate = 44100)
{
    std::ofstream out(path, std::ios::binary);
    const auto u32 = [&out](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    const auto u16 = [&out](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const auto bytes = static_cast<std::uint32_t>(samples.size() * 2);
    out.write("RIFF", 4);
    u32(36 + bytes);
    out.write("WAVEfmt ", 8);
    u32(16); // format chunk size
    u16(1);  // PCM
    u16(1);  // mono
    u32(rate);
    u32(rate * 2);
    u16(2);  // block alignment
    u16(16); // bits per sample
    out.write("data", 4);
    u32(bytes);
    out.write(reinterpret_cast<const char*>(samples.data()), bytes);
}
