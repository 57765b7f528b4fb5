#pragma once
// Binds a caller's memory block to a file for the object's lifetime: loaded when constructed (the
// defaults when there is no file), written back when destroyed. A shorter file fills only the
// block's leading bytes, but the whole block is always written back. A longer file is not one of
// ours: it is neither loaded nor ever written.
#include <string>

class CFileBackedBlock {
public:
    enum class ELoad {
        Missing, // no file (or one that cannot be opened): the block holds the defaults
        Loaded,  // the file filled the block's leading bytes
        Foreign, // longer than the block, so not one of ours: the block holds the defaults
        Failed,  // there, but could not be read (the message was shown): the block is unchanged
    };
    // Loads `name` in `directory` into the block exactly as a binding does, without binding it.
    static ELoad Load(int directory, const std::string& name, void* block, int length, const void* defaults);

    // `name` is looked up relative to the directory descriptor `directory` (AT_FDCWD for the
    // working directory of each access); the binding keeps a duplicate of the descriptor, so the
    // caller may close its own.
    CFileBackedBlock(int directory, const std::string& name, void* block, int length, const void* defaults);
    CFileBackedBlock(const std::string& path, void* block, int length, const void* defaults);
    virtual ~CFileBackedBlock();

    CFileBackedBlock(const CFileBackedBlock&) = delete;
    CFileBackedBlock& operator=(const CFileBackedBlock&) = delete;

    // Gives up the binding without writing: the file keeps its previous content.
    void Abandon();

    // The file was longer than the block: the block holds the defaults and nothing is written.
    bool IsForeign() const { return m_foreign; }

private:
    int m_directory;
    std::string m_name;
    void* m_block;
    int m_length;
    bool m_abandoned = false;
    bool m_foreign = false;
};
