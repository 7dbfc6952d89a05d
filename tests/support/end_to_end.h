// What the end-to-end tests of halvic share: the names of the seven output files, an old set that
// a failed conversion must leave as it is, and a generated input of many records.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace halvic::testing {

// The seven output files, the record file first, as the engine names them
// (engine/format/record_format.h).
const std::vector<std::string>& OutputNames();

// Writes "old NAME" into each of the seven output files in `dir`.
void PutOldOutputs(const std::filesystem::path& dir);

// Records `first` to `last`, each with a text and values in tables m and s, about 45 bytes a
// record: record numbers repeat after 60000, table m holds up to 500 texts, table s 7.
std::string Records(int first, int last);

}  // namespace halvic::testing
