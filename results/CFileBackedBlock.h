#pragma once
// Binds a caller's memory block to a file for the object's lifetime: loaded when constructed (the
// defaults when there is no file), written back when destroyed. A shorter file fills only the
// block's leading bytes, but the whole block is always written back.
#include <string>

class CFileBackedBlock {
public:
    CFileBackedBlock(const std::string& path, void* block, int length, const void* defaults);
    virtual ~CFileBackedBlock();

    CFileBackedBlock(const CFileBackedBlock&) = delete;
    CFileBackedBlock& operator=(const CFileBackedBlock&) = delete;

    // Gives up the binding without writing: the file keeps its previous content.
    void Abandon();

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    void* m_block;
    int m_length;
    bool m_abandoned = false;
};

// "result.dat" in `directory`, with a separator unless the directory already ends in one.
std::string ResultFilePath(const std::string& directory);
