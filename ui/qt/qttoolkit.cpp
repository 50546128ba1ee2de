#include "toolkit.h"

#include "design.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QUrl>

namespace vellork {

QString programTitle() {
    return QString::fromUtf8(design::kTitle);
}

Dialogs::Answer QtDialogs::message(QWidget* parent, MessageIcon icon, const QString& text,
                                   bool yesNo) {
    QMessageBox box(parent);
    box.setWindowTitle(programTitle());
    box.setText(text);
    switch (icon) {
        case MessageIcon::Critical:
            box.setIcon(QMessageBox::Critical);
            break;
        case MessageIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case MessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
    }
    box.setStandardButtons(yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
    const int pressed = box.exec();
    if (!yesNo) return Answer::Ok;
    return pressed == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

namespace {

// The names in Qt's own dialog's name field, whole paths made from its folder: one name, or
// several each in double quotes. The field holds what the user typed, or the names the user
// picked, which the dialog writes there. Empty for a dialog of the system's, which has no field.
QStringList typedNames(const QFileDialog& dialog) {
    const auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (!field || field->text().isEmpty()) return {};
    const QString typed = field->text();
    QStringList names = typed.split(u'"');
    if (names.size() == 1) return {dialog.directory().absoluteFilePath(typed)};
    QStringList paths;
    for (qsizetype quoted = 1; quoted < names.size(); quoted += 2)
        paths << dialog.directory().absoluteFilePath(names[quoted]);
    return paths;
}

}  // namespace

QStringList QtDialogs::openFiles(QWidget* parent, const QString& title,
                                 const QStringList& filters) {
    QFileDialog dialog(parent, title, QString(), filters.join(QStringLiteral(";;")));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    if (dialog.exec() != QDialog::Accepted) return {};
    // Qt's dialog answers with the names selected in its view, and a typed name that the chosen
    // filter hides is never selected there: "a.html" "b.htm" would come back as a.html alone.
    // Every name the user typed counts, as in the system's dialog on Windows.
    QStringList chosen = typedNames(dialog);
    if (chosen.isEmpty()) chosen = dialog.selectedFiles();
    for (QString& path : chosen) path = QDir::toNativeSeparators(QDir::cleanPath(path));
    return chosen;
}

void QtShell::open(const QString& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace vellork
