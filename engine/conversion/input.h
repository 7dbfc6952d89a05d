// The input of a conversion, cut into parts: a file, standard input or a pipe, read as a stream
// into buffers that are used again part after part. An input in an encoding other than the files'
// own (a byte-order mark's, or the one declared) is decoded as it is read, and its parts are
// buffers of the decoded bytes. Either way the input keeps the caller's progress up to date as its
// parts are converted, and stops the conversion when the caller cancels; a file cut short by
// another program while it is read fails the reading.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/conversion/notes.h"
#include "engine/conversion/part_source.h"
#include "engine/conversion/summary.h"
#include "engine/io/error.h"
#include "engine/io/file.h"
#include "engine/text/input_encoding.h"

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
    // Looks at the input's first bytes (a stream's: waits for them, so the caller takes its
    // output first) to read it in `encoding` (see ChooseEncoding), and cuts it into parts.
    // Returns false, with `error`, when they cannot be read.
    bool ReadAs(EInputEncoding encoding, CError& error);

    // The input's name in messages: the path, or "<stdin>".
    const std::string& Name() const { return m_strName; }
    // The parts, for the pipeline, after ReadAs.
    CPartSource& Parts() { return *m_parts; }
    // The bytes converted so far (decoded, of a decoded input): after the conversion, 0 only for
    // an empty input.
    std::uint64_t BytesConverted() const {
        return m_decoding ? m_nDecoded : m_progress.m_nRead.load();
    }
    // Whether the input is a regular file: reading it waits for no other program.
    bool Regular() const { return m_stream.Regular(); }
    // The input's first bytes, as they are (a few).
    const std::string& Start() const { return m_strStart; }
    // The encoding the input is read in.
    EInputEncoding Encoding() const { return m_eEncoding; }
    // Adds the warnings of its decoding: what was stored as "?".
    void AddWarnings(std::vector<CWarning>& warnings) const {
        m_decodingNotes.AddWarnings(m_strName, warnings);
    }

  private:
    class CPeekedSource;

    void Reached(std::uint64_t end);
    // Cuts `source`, decoded, into parts.
    void Decode(CByteSource& source);

    CConvertProgress m_unwatched;
    CConvertProgress& m_progress;
    CInputFile m_stream;
    std::string m_strName;
    EInputEncoding m_eEncoding = EInputEncoding::kBytes;
    std::unique_ptr<CByteSource> m_raw;  // the bytes as they are, when decoded or peeked at
    std::unique_ptr<CDecodingSource> m_decoding;
    std::size_t m_nMark = 0;  // the byte-order mark's length, skipped
    std::string m_strStart;
    std::uint64_t m_nDecoded = 0;
    CValueNotes m_decodingNotes;
    std::unique_ptr<CPartSource> m_parts;
};

}  // namespace halvic
