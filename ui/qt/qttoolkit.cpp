#include "toolkit.h"

#include "design.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
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

QStringList QtDialogs::openFiles(QWidget* parent, const QString& title,
                                 const QStringList& filters) {
    QStringList chosen =
        QFileDialog::getOpenFileNames(parent, title, QString(), filters.join(QStringLiteral(";;")));
    for (QString& path : chosen) path = QDir::toNativeSeparators(path);
    return chosen;
}

void QtShell::open(const QString& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace vellork
