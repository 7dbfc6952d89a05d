#include "tests/support/output_files.h"

#include "engine/io/byte_stream.h"
#include "engine/set/set_reader.h"

namespace halvic::testing {

namespace {

// The tables and records of an opened set, up to the first fault.
void ReadRecords(COutputSetReader& reader, COutputReadResult& result) {
    result.m_tables = reader.Tables();
    CRecord record;
    while (reader.Next(record))
        result.m_records.push_back(record);
    result.m_bOk = !reader.Failed();
    if (reader.Failed()) result.m_error = reader.Error();
}

}  // namespace

COutputReadResult ReadOutput(const COutputFiles& files, std::size_t block) {
    COutputReadResult result;
    CMemorySource records(files.m_strRecords, block);
    std::vector<CMemorySource> tables;
    tables.reserve(kTableCount);  // the sources hold their places
    COutputSources sources;
    sources.m_pRecords = &records;
    for (std::size_t i = 0; i < kTableCount; ++i) {
        tables.emplace_back(files.m_tables[i], block);
        sources.m_tables[i] = &tables.back();
    }
    COutputSetReader reader(block);
    if (reader.Open(files.m_strDir, sources, result.m_error)) ReadRecords(reader, result);
    return result;
}

COutputReadResult ReadOutputDir(const std::string& dir) {
    COutputReadResult result;
    COutputSetReader reader;
    std::vector<CError> warnings;
    if (reader.Open(dir, nullptr, result.m_error, warnings)) ReadRecords(reader, result);
    return result;
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
