#include "program_icon.h"

#include <QDir>

namespace vellork {

QIcon programIcon() {
    QIcon icon;
    // Each picture is added at its own size, which Qt reads from the file.
    const QDir pictures(QStringLiteral(":/vellork/icons"));
    for (const QString& name : pictures.entryList(QDir::Files))
        icon.addFile(pictures.filePath(name));
    return icon;
}

}  // namespace vellork
