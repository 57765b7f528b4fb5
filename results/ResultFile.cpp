#include "results/ResultFile.h"

#include "results/ResultRecord.h"
#include "ui/Language.h"
#include "ui/Message.h"

std::unique_ptr<CFileBackedBlock> OpenResultFile(int directory)
{
    auto binding = std::make_unique<CFileBackedBlock>(directory, RESULT_FILE_NAME, &ResultRecord,
                                                      RESULT_RECORD_BYTES, &ResultRecord);
    if (binding->IsForeign())
        ShowMessage(Translate(FOREIGN_RESULT_FILE_NOTICE));
    return binding;
}

CFileBackedBlock::ELoad ReadResultFile(int directory, ResultRecordData& record)
{
    return CFileBackedBlock::Load(directory, RESULT_FILE_NAME, &record, RESULT_RECORD_BYTES, &record);
}

void CloseResultFile(std::unique_ptr<CFileBackedBlock>& binding)
{
    if (binding && binding->IsForeign())
        ShowMessage(Translate(FOREIGN_RESULT_FILE_NOTICE));
    binding.reset();
}
