#include "programpaths.h"

namespace {

// Inside a macOS bundle the program's folder ends in this; the folder "html"
// lies beside the bundle, not inside it.
const QLatin1String bundle_name("/tavirex_tools.app");

} // namespace

QString ProgramPaths::settings_file()
{
    return QStringLiteral("./config.ini");
}

QString ProgramPaths::html_folder(const QString &program_folder)
{
    const int bundle = program_folder.indexOf(bundle_name);
    return (bundle < 0 ? program_folder : program_folder.left(bundle)) + QStringLiteral("/html");
}
