#include "cli/diff_command.h"

#include <filesystem>
#include <new>
#include <ostream>
#include <vector>

#include "cli/dump_command.h"
#include "cli/record_lines.h"
#include "engine/format/field_text.h"
#include "engine/io/file.h"
#include "engine/set/output_set.h"

namespace halvic::cli {

namespace {

const char* const kArrow = " \xE2\x86\x92 ";  // " → "

// A point as dump shows it after its easting and northing: its grid reference, "no grid
// reference" for 0, 0, nothing outside the letter grid.
std::string PointText(const CRecord& r) {
    std::string grid;
    if (r.m_nEasting == 0 && r.m_nNorthing == 0) return "no grid reference";
    return GridReference(r.m_nEasting, r.m_nNorthing, grid) ? grid : "outside the grid";
}

std::string WeightText(std::uint16_t pounds) {
    return std::to_string(pounds) + " lb (" + WeightInCwt(pounds) + ")";
}

// Prints each difference as it is found.
class CDiffPrinter : public CSetDiffListener {
  public:
    CDiffPrinter(const CDiffShow& show, CByteSink& out)
        : m_show(show), m_out(out), m_decoding{show.m_encoding, show.m_bEncodingChosen} {}

    void Added(std::uint64_t index, const CRecord& record, const COutputTables& tables) override {
        Whole("added", '+', index, record, tables);
    }
    void Removed(std::uint64_t index, const CRecord& record, const COutputTables& tables) override {
        Whole("removed", '-', index, record, tables);
    }
    void Changed(std::uint64_t oldIndex, const CRecord& a, const COutputTables& aTables,
                 std::uint64_t newIndex, const CRecord& b, const COutputTables& bTables,
                 unsigned fields) override {
        if (m_show.m_bQuiet) return;
        m_line.clear();
        if (m_show.m_format == EDiffFormat::kJsonl) {
            ChangedJson(oldIndex, a, aTables, newIndex, b, bTables, fields);
        } else {
            ChangedText(oldIndex, a, aTables, newIndex, b, bTables, fields);
        }
        m_out.Write(m_line);
    }

    void Summary(const CSetDiffCounts& counts) {
        if (m_show.m_format == EDiffFormat::kJsonl) {
            m_out.Write("{\"summary\":{\"added\":" + std::to_string(counts.m_nAdded) +
                        ",\"removed\":" + std::to_string(counts.m_nRemoved) +
                        ",\"changed\":" + std::to_string(counts.m_nChanged) +
                        ",\"unchanged\":" + std::to_string(counts.m_nUnchanged) + "}}\n");
        } else {
            m_out.Write(DiffSummary(counts) + "\n");
        }
    }
    const CDecoding& Decoding() const { return m_decoding; }

  private:
    // A record added or removed, whole, as dump shows it.
    void Whole(const char* change, char sign, std::uint64_t index, const CRecord& record,
               const COutputTables& tables) {
        if (m_show.m_bQuiet) return;
        m_line.clear();
        CDumpLine line{index, record, tables, m_decoding};
        if (m_show.m_format == EDiffFormat::kJsonl) {
            std::string json;
            AppendJson(json, line);
            // The dump's object with the kind of change first.
            m_line = std::string("{\"change\":\"") + change + "\"," + json.substr(1);
        } else {
            m_line.push_back(sign);
            m_line.push_back(' ');
            AppendText(m_line, line);
        }
        m_out.Write(m_line);
    }

    void TableText(std::size_t table, std::uint16_t id, const COutputTables& tables) {
        if (id == 0) {
            m_line += "none";
        } else {
            AppendEscaped(m_line, tables[table][id - 1u], m_decoding);
        }
    }

    void ChangedText(std::uint64_t oldIndex, const CRecord& a, const COutputTables& aTables,
                     std::uint64_t newIndex, const CRecord& b, const COutputTables& bTables,
                     unsigned fields) {
        m_line = "~ record " + std::to_string(oldIndex);
        if (newIndex != oldIndex) m_line += kArrow + std::to_string(newIndex);
        m_line += ": number " + std::to_string(a.m_nNumber);
        if (fields & kTextField) {
            m_line += ", text ";
            AppendEscaped(m_line, a.m_strText, m_decoding);
            m_line += kArrow;
            AppendEscaped(m_line, b.m_strText, m_decoding);
        }
        if (fields & kBValueField) {
            m_line +=
                ", bValue " + std::to_string(a.m_nBValue) + kArrow + std::to_string(b.m_nBValue);
        }
        if (fields & kWeightField)
            m_line += ", weight " + WeightText(a.m_nWeight) + kArrow + WeightText(b.m_nWeight);
        if (fields & kEastingField) {
            m_line +=
                ", easting " + std::to_string(a.m_nEasting) + kArrow + std::to_string(b.m_nEasting);
        }
        if (fields & kNorthingField) {
            m_line += ", northing " + std::to_string(a.m_nNorthing) + kArrow +
                      std::to_string(b.m_nNorthing);
        }
        if (fields & (kEastingField | kNorthingField))
            m_line += " (" + PointText(a) + kArrow + PointText(b) + ")";
        for (std::size_t i = 0; i < kTableCount; ++i) {
            if (!(fields & (kTableField << i))) continue;
            m_line += ", ";
            m_line.push_back(kTableLetters[i]);
            m_line.push_back(' ');
            TableText(i, a.m_tableIds[i], aTables);
            m_line += kArrow;
            TableText(i, b.m_tableIds[i], bTables);
        }
        m_line.push_back('\n');
    }

    // "name":[old,new]
    void JsonPair(const char* name, const std::string& a, const std::string& b) {
        m_line += std::string(",\"") + name + "\":[" + a + "," + b + "]";
    }
    std::string JsonText(std::string_view text) {
        std::string json;
        AppendJsonString(json, text, m_decoding);
        return json;
    }
    std::string JsonTableText(std::size_t table, std::uint16_t id, const COutputTables& tables) {
        return id == 0 ? "null" : JsonText(tables[table][id - 1u]);
    }
    static std::string JsonGrid(const CRecord& r) {
        std::string grid;
        return HasGridReference(r, grid) ? "\"" + grid + "\"" : "null";
    }

    void ChangedJson(std::uint64_t oldIndex, const CRecord& a, const COutputTables& aTables,
                     std::uint64_t newIndex, const CRecord& b, const COutputTables& bTables,
                     unsigned fields) {
        m_line = "{\"change\":\"changed\",\"oldRecord\":" + std::to_string(oldIndex) +
                 ",\"newRecord\":" + std::to_string(newIndex) +
                 ",\"number\":" + std::to_string(a.m_nNumber);
        if (fields & kTextField) JsonPair("text", JsonText(a.m_strText), JsonText(b.m_strText));
        if (fields & kBValueField)
            JsonPair("bValue", std::to_string(a.m_nBValue), std::to_string(b.m_nBValue));
        if (fields & kWeightField) {
            JsonPair("weight", std::to_string(a.m_nWeight), std::to_string(b.m_nWeight));
            JsonPair("weightCwt", "\"" + WeightInCwt(a.m_nWeight) + "\"",
                     "\"" + WeightInCwt(b.m_nWeight) + "\"");
        }
        if (fields & kEastingField)
            JsonPair("easting", std::to_string(a.m_nEasting), std::to_string(b.m_nEasting));
        if (fields & kNorthingField)
            JsonPair("northing", std::to_string(a.m_nNorthing), std::to_string(b.m_nNorthing));
        if (fields & (kEastingField | kNorthingField))
            JsonPair("gridRef", JsonGrid(a), JsonGrid(b));
        for (std::size_t i = 0; i < kTableCount; ++i) {
            if (!(fields & (kTableField << i))) continue;
            const char name[] = {kTableLetters[i], 'T', 'e', 'x', 't', '\0'};
            JsonPair(name, JsonTableText(i, a.m_tableIds[i], aTables),
                     JsonTableText(i, b.m_tableIds[i], bTables));
        }
        m_line += "}\n";
    }

    const CDiffShow& m_show;
    CByteSink& m_out;
    CDecoding m_decoding;
    std::string m_line;
};

// One side of a comparison: a set's directory, or tagged text converted into memory.
struct CDiffSide {
    CConvertedSet m_converted;
    COutputSetReader m_reader;
};

bool OpenSide(const std::string& operand, const CDiffShow& show, CDiffSide& side,
              std::ostream& err) {
    // A file other than the seven (or a link to one) is tagged text; a directory, one of the
    // seven and a name that is missing are a set, which says what is missing.
    std::error_code ignored;
    const std::filesystem::path path = std::filesystem::u8path(operand);
    bool tagged = operand == "-" || (std::filesystem::exists(path, ignored) &&
                                     !std::filesystem::is_directory(path, ignored) &&
                                     SetDirectory(operand) == operand);
    CError error;
    if (!tagged) {
        if (OpenSet(SetDirectory(operand), false, side.m_converted, side.m_reader, err, error))
            return true;
        err << "halvic: error: " << error.Message() << '\n';
        return false;
    }
    CConvertOptions options;
    options.m_bDashMeansStdin = true;
    options.m_bNoOutputDir = true;
    CConvertResult result = side.m_converted.Convert(operand, options);
    if (!show.m_bQuiet) {
        for (const CWarning& warning : result.m_warnings)
            err << "halvic: warning: " << DescribedMessage(warning) << '\n';
    }
    if (!result.m_bOk || !side.m_converted.Open(side.m_reader, operand, error)) {
        err << "halvic: error: " << DescribedMessage(result.m_bOk ? error : result.m_error) << '\n';
        return false;
    }
    return true;
}

}  // namespace

bool OpenSet(const std::string& dir, bool missingIsEmpty, CConvertedSet& empty,
             COutputSetReader& reader, std::ostream& err, CError& error, int waitSeconds) {
    if (missingIsEmpty) {
        bool none = true;
        for (std::size_t i = 0; i < kOutputCount; ++i)
            none = none && StatusOf(JoinPath(dir, OutputFileName(i))).m_kind == EFileKind::kMissing;
        if (none) {
            empty.MakeEmpty();
            return empty.Open(reader, dir, error);
        }
    }
    std::vector<CError> notes;
    bool opened = reader.Open(
        dir, [&err, &dir] { err << "halvic: " << WaitingMessage(dir) << std::endl; }, error, notes,
        waitSeconds);
    for (const CError& note : notes)
        err << "halvic: warning: " << note.Message() << '\n';
    return opened;
}

bool ShowDiff(COutputSetReader& oldSet, COutputSetReader& newSet, const CDiffShow& show,
              CByteSink& out, std::ostream& err, CSetDiffCounts& counts) {
    CDiffPrinter printer(show, out);
    CError error;
    bool ok = DiffSets(oldSet, newSet, printer, counts, error);
    if (ok) printer.Summary(counts);
    out.Flush();
    if (!ok) {
        err << "halvic: error: " << error.Message() << '\n';
        return false;
    }
    WarnOfInvalidBytes(printer.Decoding(), err);
    return true;
}

EExitCode RunDiff(const CDiffCommand& command, CByteSink& out, std::ostream& err) {
    try {
        CDiffSide oldSide, newSide;
        if (!OpenSide(command.m_strOld, command.m_show, oldSide, err)) return kExitTrouble;
        if (!OpenSide(command.m_strNew, command.m_show, newSide, err)) return kExitTrouble;
        CSetDiffCounts counts;
        if (!ShowDiff(oldSide.m_reader, newSide.m_reader, command.m_show, out, err, counts))
            return kExitTrouble;
        return counts.Differ() ? kExitDiffers : kExitOk;
    } catch (const CFailure& failure) {
        // Only the output fails by throwing: a fault of a set is a value.
        err << "halvic: error: " << failure.Error().Message() << '\n';
        return kExitTrouble;
    } catch (const std::bad_alloc&) {
        err << "halvic: error: out of memory\n";
        return kExitTrouble;
    }
}

}  // namespace halvic::cli
