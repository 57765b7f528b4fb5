#pragma once
// A fresh directory under the system's temporary directory, removed with everything in it.
#include <filesystem>
#include <random>
#include <string>

class CTempDir {
public:
    CTempDir()
    {
        std::random_device rd;
        const auto base = std::filesystem::temp_directory_path();
        for (;;) {
            m_path = base / ("tonvale-test-" + std::to_string(rd()));
            if (std::filesystem::create_directory(m_path))
                break;
        }
    }
    ~CTempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// Changes the working directory for its lifetime.
class CWorkingDirectory {
public:
    explicit CWorkingDirectory(const std::filesystem::path& dir) : m_old(std::filesystem::current_path())
    {
        std::filesystem::current_path(dir);
    }
    ~CWorkingDirectory()
    {
        std::error_code ignored;
        std::filesystem::current_path(m_old, ignored);
    }
    CWorkingDirectory(const CWorkingDirectory&) = delete;
    CWorkingDirectory& operator=(const CWorkingDirectory&) = delete;

private:
    std::filesystem::path m_old;
};
