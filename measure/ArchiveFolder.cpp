#include "ArchiveFolder.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <filesystem>

namespace vg57 {

namespace fs = std::filesystem;

TArchiveFolder PrepareArchiveFolder() {
    const std::string home = QFile::encodeName(QDir::homePath()).toStdString();
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty())
        return {home, "Архивы пишутся в " + home + ": папка документов не найдена"};
    const fs::path folder = fs::path(QFile::encodeName(documents).toStdString()) / "VG-57";
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!ec && !fs::is_directory(folder, ec) && !ec)
        ec = std::make_error_code(std::errc::not_a_directory);
    if (ec)
        return {home, "Архивы пишутся в " + home + ": папка " + folder.string() + " не создана (" +
                          ec.message() + ")"};
    return {folder.string(), {}};
}

} // namespace vg57
