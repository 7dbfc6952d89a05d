// The way back from the files to tagged text: records and table texts written as a tagged text
// whose conversion gives back the same seven files, byte for byte.
//
// Each record is an "<@>" line and one line for each field that differs from the record before
// (a record starts with the values of the one before it), with a blank line between records and
// CR LF line ends. A table text that no record keeps (set and then replaced within one record)
// is written where it took its identifier, so that every text keeps its identifier. Values are
// written in their plainest form: a grid reference as two letters and six figures, a weight as
// hundredweights-quarters-pounds.
//
// Some values that a record file can hold no conversion writes (a weight above 35,955 lb, a point
// no grid reference gives, a text with a line break, a table field that goes back to no text):
// such a record is refused with a message naming it and the field, and nothing that would convert
// differently is written.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/format/output_reader.h"
#include "engine/format/record.h"
#include "engine/io/byte_stream.h"
#include "engine/io/error.h"
#include "engine/text/input_encoding.h"

namespace halvic {

class CTaggedWriter {
  public:
    // `tables` must outlive the writer; `name` names the record file in messages.
    CTaggedWriter(const COutputTables& tables, CByteSink& out, std::string name);

    // Writes the record read `index`-th (from 1). Returns false, writing nothing of it, when no
    // tagged text gives one of its values.
    bool Write(const CRecord& record, std::uint64_t index, CError& error);
    // The same, keeping the record (the values the next one starts with) without a copy of its
    // text, which may be long; a record refused is left as it was.
    bool Write(CRecord&& record, std::uint64_t index, CError& error);
    // After the last record: the table texts that no record reached are added to the last
    // record's group. Returns false when they cannot be.
    bool Finish(CError& error);

  private:
    // The lines of a record, the texts among them as views: written once the whole record is
    // known to be writable, without copying a text.
    class CLines;

    bool Refuse(CError& error, const std::string& reason) const;
    // Writes the record's lines, or refuses it; the caller then keeps it in m_previous.
    bool WriteLines(const CRecord& record, std::uint64_t index, CError& error);
    // Adds the pair <tag>content to the record being written, or refuses a text it cannot carry.
    bool AddText(CLines& lines, char tag, std::string_view text, CError& error) const;
    // Adds the table texts of table `table` from the next one not yet written up to `id`.
    bool AddTableTexts(CLines& lines, std::size_t table, std::size_t id, CError& error) const;

    const COutputTables& m_tables;
    CByteSink& m_out;
    std::string m_strName;
    CRecord m_previous;  // the values the next record starts with
    std::uint64_t m_nIndex = 0;
    std::array<std::size_t, kTableCount> m_written = {};  // table texts written so far
};

// Tagged text, whose texts are Windows-1252 bytes as the files hold them, written on in UTF-8 or
// UTF-16 (`encoding`) after a byte-order mark, so that an editor shows the accents and a
// conversion reads it back into the same bytes.
class CEncodedTextSink : public CByteSink {
  public:
    CEncodedTextSink(CByteSink& out, EInputEncoding encoding);

  protected:
    void Drain(const unsigned char* data, std::size_t size) override;

  private:
    CByteSink& m_out;
    EInputEncoding m_eEncoding;
    std::string m_strEncoded;
};

}  // namespace halvic
