#pragma once
// Helpers shared by the result file tests.
#include "results/ResultFile.h"
#include "results/ResultRecord.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using Bytes = std::vector<std::uint8_t>;

inline Bytes ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::filesystem::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The 44-byte image of eleven little-endian 32-bit fields.
inline Bytes Image(const std::vector<std::int32_t>& fields)
{
    Bytes bytes;
    for (std::int32_t field : fields) {
        auto u = static_cast<std::uint32_t>(field);
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<std::uint8_t>(u >> shift));
    }
    return bytes;
}

inline const char* const OPEN_FAILED = "CGeneralFile:ファイルをオープンできませんでした。";
inline const char* const WRITE_FAILED = "CGeneralFile:ファイルに書き込めませんでした。";
inline const char* const SIZE_FAILED = "CGeneralFile:ファイルサイズを取得できませんでした。";
inline const char* const UNDEFINED_ERROR = "CGeneralFile:未定義のエラーが発生しました。";

inline const char* const FOREIGN_NOTICE =
    "result.dat は Tonvale "
    "の結果ファイルではないため、読み込みも上書きもしません。今回の結果は保存されません。";

// The binding as the main window creates it: result.dat in a descriptor of the working directory,
// ResultRecord as both the block and the defaults.
inline std::unique_ptr<CFileBackedBlock> BindResultFile()
{
    const int cwd = ::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    auto binding = OpenResultFile(cwd);
    ::close(cwd);
    return binding;
}

// The names in `dir`, sorted: shows leftovers such as temporary files.
inline std::vector<std::string> Names(const std::filesystem::path& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
