// The input of a conversion, cut into parts: a regular file is mapped and its parts are views of
// the mapping; standard input, pipes and files that cannot be mapped are read as a stream into
// buffers of their own. Either way the input keeps the caller's progress up to date as its parts
// are converted, stops the conversion when the caller cancels, and tells whether a mapped file was
// cut short by another program while it was read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/conversion/part_source.h"
#include "engine/conversion/summary.h"
#include "engine/io/error.h"
#include "engine/io/file.h"
#include "engine/io/mapped_file.h"

namespace halvic {

class CConversionInput {
  public:
    // `progress`, when set, is kept up to date and asked whether to cancel.
    explicit CConversionInput(CConvertProgress* progress);
    CConversionInput(const CConversionInput&) = delete;
    CConversionInput& operator=(const CConversionInput&) = delete;

    // Opens `path`, or standard input when `path` is "-" and `dashMeansStdin`. Returns false, with
    // `error`, when it cannot be opened.
    bool Open(const std::string& path, bool dashMeansStdin, CError& error);

    // The input's name in messages: the path, or "<stdin>".
    const std::string& Name() const { return m_strName; }
    // The parts, for the pipeline.
    CPartSource& Parts() { return *m_parts; }
    // The bytes converted so far: after the conversion, 0 only for an empty input.
    std::uint64_t BytesConverted() const { return m_progress.m_nRead; }

    // Throws CFailure when a mapped file was cut short while it was read: the bytes past its new
    // end were read as zeros, so what was converted is not the file.
    void CheckWhole() const;
    // When a mapped file was cut short, replaces `error` with that failure, which explains
    // whatever else failed or was warned of, and returns true.
    bool ExplainCutShort(CError& error) const;

  private:
    void Reached(std::uint64_t end);

    CConvertProgress m_unwatched;
    CConvertProgress& m_progress;
    CMappedFile m_mapped;
    CInputFile m_stream;
    bool m_bMapped = false;
    std::string m_strName;
    std::unique_ptr<CPartSource> m_parts;
};

}  // namespace halvic
