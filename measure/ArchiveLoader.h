// Loading an archive file into the chart (the menu command "Загрузить из файла").
#pragma once

#include "ArchiveReader.h"

#include <string>

namespace vg57 {

class TChartModel;

// Reads a whole archive file. Returns empty, or "<path>: <the system's words>" when the file
// cannot be opened or read; `data` is then left as it was.
std::string ReadArchiveFile(const std::string& path, TArchiveData& data);

// LoadArchiveFile: the chart's series replaced by the file's readings, the time axis set to
// their span (TChartModel::LoadArchive). A file that cannot be read leaves the chart as it was;
// the reason is returned for a message box. LoadedView is the caller's to set, either way.
std::string LoadArchiveFile(const std::string& path, TChartModel& chart);

} // namespace vg57
