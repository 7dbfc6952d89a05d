#include "engine/set/set_reader.h"

#include <new>

#include "engine/io/file.h"
#include "engine/set/output_set.h"

namespace halvic {

bool COutputSetReader::Open(const std::string& dir, const std::function<void()>& onWait,
                            CError& error, std::vector<CError>& warnings, int waitSeconds) {
    m_strRecordFile = JoinPath(dir, kRecordFileName);
    try {
        {
            // No conversion replaces the files while they are opened; once open, they stay the
            // files of this set, so the lock is not held while they are read.
            COutputSetReadLock lock;
            if (!lock.Take(dir, onWait, error, warnings, waitSeconds)) return false;
            if (!m_recordFile.Open(m_strRecordFile, error)) return false;
            for (std::size_t i = 0; i < kTableCount; ++i) {
                if (!m_tableFiles[i].Open(JoinPath(dir, TableFileName(i)), error)) return false;
            }
        }
        COutputSources sources;
        sources.m_pRecords = &m_recordFile;
        for (std::size_t i = 0; i < kTableCount; ++i)
            sources.m_tables[i] = &m_tableFiles[i];
        return Open(dir, sources, error);
    } catch (const std::bad_alloc&) {
        error = {m_strRecordFile, 0, "out of memory"};
        return false;
    }
}

bool COutputSetReader::Open(const std::string& dir, const COutputSources& sources, CError& error) {
    m_records.reset();
    m_bFailed = false;
    m_strRecordFile = JoinPath(dir, kRecordFileName);
    std::string reading = m_strRecordFile;  // the file being read, for a message
    try {
        // The tables first: a record cannot be checked or shown without them.
        for (std::size_t i = 0; i < kTableCount; ++i) {
            reading = JoinPath(dir, TableFileName(i));
            if (!ReadTableFile(*sources.m_tables[i], reading, m_tables[i], error)) return false;
        }
        reading = m_strRecordFile;
        m_records.emplace(*sources.m_pRecords, m_strRecordFile, TableSizes(m_tables), m_nBlock);
    } catch (const std::bad_alloc&) {
        error = {reading, 0, "out of memory"};
        return false;
    }
    return true;
}

bool COutputSetReader::Next(CRecord& record) {
    if (!m_records || m_bFailed) return false;
    try {
        if (m_records->Next(record)) return true;
        if (!m_records->Failed()) return false;
        m_error = m_records->Error();
    } catch (const std::bad_alloc&) {
        m_error = {m_strRecordFile, 0, "out of memory"};
    }
    m_bFailed = true;
    return false;
}

bool COutputSetReader::MoveTo(std::uint64_t offset, std::size_t block) {
    if (!m_records || m_bFailed) return false;
    try {
        if (m_records->MoveTo(offset, block)) return true;
        m_error = {m_strRecordFile, 0, "the file can only be read from start to end"};
    } catch (const CFailure& failure) {
        m_error = failure.Error();
    }
    m_bFailed = true;
    return false;
}

}  // namespace halvic
