#include "tests/support/output_files.h"

#include <new>

#include "engine/io/byte_stream.h"
#include "engine/set/output_set.h"

namespace halvic::testing {

namespace {

bool LoadFile(const std::string& path, std::string& bytes, CError& error) {
    COutputFile file;
    if (!file.Open(path, error)) return false;
    try {
        unsigned char block[1 << 16];
        while (std::size_t n = file.Read(block, sizeof block))
            bytes.append(reinterpret_cast<const char*>(block), n);
    } catch (const CFailure& failure) {
        error = failure.Error();
        return false;
    }
    return true;
}

}  // namespace

bool LoadOutputFiles(const std::string& dir, COutputFiles& files, CError& error) {
    files.m_strDir = dir;
    files.m_strRecords.clear();
    if (!LoadFile(JoinPath(dir, kRecordFileName), files.m_strRecords, error)) return false;
    for (std::size_t i = 0; i < kTableCount; ++i) {
        files.m_tables[i].clear();
        if (!LoadFile(JoinPath(dir, TableFileName(i)), files.m_tables[i], error)) return false;
    }
    return true;
}

COutputReadResult ReadOutput(const COutputFiles& files) {
    COutputReadResult result;
    const std::string recordPath = JoinPath(files.m_strDir, kRecordFileName);
    try {
        for (std::size_t i = 0; i < kTableCount; ++i) {
            CMemorySource table(files.m_tables[i]);
            if (!ReadTableFile(table, JoinPath(files.m_strDir, TableFileName(i)),
                               result.m_tables[i], result.m_error)) {
                return result;
            }
        }
        CMemorySource records(files.m_strRecords);
        CRecordFileReader reader(records, recordPath, TableSizes(result.m_tables));
        CRecord record;
        while (reader.Next(record))
            result.m_records.push_back(record);
        if (reader.Failed()) {
            result.m_error = reader.Error();
            return result;
        }
    } catch (const std::bad_alloc&) {
        result.m_error = {recordPath, 0, "out of memory"};
        return result;
    }
    result.m_bOk = true;
    return result;
}

COutputReadResult ReadOutputDir(const std::string& dir) {
    COutputFiles files;
    COutputReadResult result;
    if (!LoadOutputFiles(dir, files, result.m_error)) return result;
    return ReadOutput(files);
}

std::string RecordFileBytes(const std::vector<CRecord>& records) {
    CMemorySink sink;
    for (const CRecord& record : records)
        record.Write(sink);
    return sink.Bytes();
}

std::string TableFileBytes(const CTableTexts& texts) {
    CMemorySink sink;
    for (const std::string& text : texts)
        WriteTerminatedText(sink, text);
    return sink.Bytes();
}

}  // namespace halvic::testing
