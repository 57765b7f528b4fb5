#pragma once
// result.dat as the main window uses it: ResultRecord bound to the file for the whole run.
#include "results/CFileBackedBlock.h"
#include "results/ResultRecord.h"
#include "ui/Language.h"

#include <memory>

inline const char* const RESULT_FILE_NAME = "result.dat";

// Shown for a result.dat longer than a record: "result.dat" is a common name, and somebody
// else's file must survive a run in its directory.
inline const char* const FOREIGN_RESULT_FILE_NOTICE =
    TR_NOOP("result.dat は Tonvale "
            "の結果ファイルではないため、読み込みも上書きもしません。今回の結果は保存されません。");

// Binds ResultRecord to result.dat in the directory `directory` (a descriptor, or AT_FDCWD) and
// loads it. A file that is not a record of ours is left alone, with the notice.
std::unique_ptr<CFileBackedBlock> OpenResultFile(int directory);

// Reads result.dat in `directory` into `record` by the same rules as OpenResultFile, without binding
// it: `record` keeps its values where the file has none, and holds them whole for a file that is
// not ours (Foreign). Failed: a file is there but could not be read (its message was shown).
CFileBackedBlock::ELoad ReadResultFile(int directory, ResultRecordData& record);

// Quit: ends the binding, which writes ResultRecord back; for a file that is not ours the notice
// comes again instead. Does nothing without a binding.
void CloseResultFile(std::unique_ptr<CFileBackedBlock>& binding);
