#include "ui/common/start_folders.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace fotivela::StartFolders {

namespace {

QString userFolder(QStandardPaths::StandardLocation location)
{
    // Without a desktop's folder list Qt still names ~/Pictures and the like: only one that
    // exists is a place to start.
    const QString folder = QStandardPaths::writableLocation(location);
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        return folder;
    return home();
}

} // namespace

QString pictures()
{
    return userFolder(QStandardPaths::PicturesLocation);
}

QString music()
{
    return userFolder(QStandardPaths::MusicLocation);
}

QString videos()
{
    return userFolder(QStandardPaths::MoviesLocation);
}

QString documents()
{
    return userFolder(QStandardPaths::DocumentsLocation);
}

QString home()
{
    return QDir::homePath();
}

QString existingOr(const std::filesystem::path& folder, const QString& fallback)
{
    const QString path = QString::fromStdString(folder.string());
    if (!path.isEmpty() && QFileInfo(path).isDir())
        return path;
    return fallback;
}

} // namespace fotivela::StartFolders
