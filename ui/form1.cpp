#include "form1.h"

#include "pacer.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

namespace vellork {

namespace {

// The window's design, in twips from the top-left corner of the client area, front to back:
// among overlapping pictures, shapes and labels the earlier one is drawn over the later one.
struct Placement {
    const char* name;
    int left, top, width, height;
};
constexpr Placement kDesign[] = {
    {"Check1", 9360, 6960, 3495, 255},  // below and right of the client area, as designed
    {"Command4", 1560, 5640, 1575, 375},   {"ProgressBar1", 120, 6120, 10095, 255},
    {"Command3", 8280, 5640, 1935, 375},   {"Command1", 120, 5640, 1335, 375},
    {"ListView1", 120, 2160, 10095, 3375}, {"Label3", 240, 1680, 9855, 255},
    {"Image1", 120, 120, 9105, 1260},      {"Label2", 4920, 5745, 735, 255},
    {"Label1", 3360, 5745, 1575, 255},     {"Shape1", 0, 0, 10455, 1455},
    {"Shape2", 120, 1560, 10095, 495},
};
constexpr int kClientWidthTwips = 10410;
constexpr int kClientHeightTwips = 6465;

// Tab index 0 upwards; labels and the progress bar hold an index but never take the focus.
constexpr const char* kTabOrder[] = {"ListView1",    "Command1", "Command3",
                                     "ProgressBar1", "Command4", "Label1",
                                     "Label2",       "Check1",   "Label3"};

// 15 twips to a device-independent pixel; Qt scales those on high-density screens.
int pixels(int twips) {
    return qRound(twips / 15.0);
}

const QColor kLightYellow(255, 255, 128);
const QColor kDarkRed(192, 0, 0);
const QColor kSilver(192, 192, 192);

// Tahoma, or the closest sans-serif face of similar width where it is missing. Wine's free
// Tahoma-compatible face is used when Debian's fonts-wine package provides it.
QFont tahoma(double points) {
    static const bool loaded = [] {
        for (const char* file :
             {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/fonts/truetype/wine/tahoma.ttf"})
            if (QFileInfo::exists(file)) QFontDatabase::addApplicationFont(file);
        return true;
    }();
    (void)loaded;
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans Condensed"),
                      QStringLiteral("Liberation Sans Narrow"), QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    return font;
}

QString fileSizeText(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() ? QString::number(info.size()) : QString();
}

}  // namespace

void ListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeView::mouseDoubleClickEvent(event);
    emit listDoubleClicked();
}

Shape::Shape(QColor fill, QColor border, QWidget* parent)
    : QWidget(parent), fill_(fill), border_(border) {}

void Shape::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), fill_);
    painter.setPen(border_);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

Form1::Form1(Dialogs& dialogs, Shell& shell, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      dialogs_(dialogs),
      shell_(shell) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(programTitle());
    setFixedSize(pixels(kClientWidthTwips), pixels(kClientHeightTwips));
    // Controls that name no font of their own take the dialog font of the system the window
    // was designed on; Tahoma 8.25 pt stands closest to it.
    setFont(tahoma(8.25));
    buildControls();
    placeControls();
    connectCommands();
    listView1_->setFocus();
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

QIcon Form1::rowPicture() {
    return QIcon(QStringLiteral(":/vellork/page16.png"));
}

void Form1::buildControls() {
    const QPalette standard = palette();

    shape2_ = new Shape(kLightYellow, standard.color(QPalette::WindowText), this);
    shape1_ = new Shape(standard.color(QPalette::Base), kSilver, this);

    label1_ = new QLabel(tr("Total HTML File(s) :"), this);
    label2_ = new QLabel(QStringLiteral("0"), this);

    image1_ = new QLabel(this);
    image1_->setPixmap(QPixmap(QStringLiteral(":/vellork/banner.png")));
    image1_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    label3_ = new QLabel(
        tr("Please Take Backup of Your HTML File(s) in Another Folder, Before Compressing..."),
        this);
    label3_->setFont(tahoma(9));
    label3_->setAlignment(Qt::AlignCenter);
    label3_->setAutoFillBackground(true);
    QPalette warning = label3_->palette();
    warning.setColor(QPalette::Window, kLightYellow);
    warning.setColor(QPalette::WindowText, kDarkRed);
    label3_->setPalette(warning);

    listView1_ = new ListView(this);
    list_.setRowDecoration(rowPicture());
    listView1_->setModel(&list_);
    listView1_->setSelectionModel(list_.selection());
    listView1_->setFont(tahoma(8.25));
    listView1_->setToolTip(tr("Double Click the list to open HTML file"));
    listView1_->setRootIsDecorated(false);
    listView1_->setItemsExpandable(false);
    listView1_->setUniformRowHeights(true);
    listView1_->setSortingEnabled(false);
    listView1_->setAllColumnsShowFocus(true);
    listView1_->setSelectionBehavior(QAbstractItemView::SelectRows);
    listView1_->setSelectionMode(QAbstractItemView::SingleSelection);
    listView1_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    listView1_->setIconSize(QSize(16, 16));
    QHeaderView* header = listView1_->header();
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int column = 0; column < FileListModel::ColumnCount; ++column)
        header->resizeSection(column, pixels(FileListModel::columnWidthTwips(column)));

    command1_ = new QPushButton(tr("Add File"), this);
    command3_ = new QPushButton(tr("Start Compression >"), this);
    command4_ = new QPushButton(tr("Clear List"), this);
    for (QPushButton* button : {command1_, command3_, command4_}) {
        button->setFont(tahoma(8.25));
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    progressBar1_ = new QProgressBar(this);
    progressBar1_->setRange(0, 100);
    progressBar1_->setValue(0);
    progressBar1_->setTextVisible(false);

    check1_ = new QCheckBox(tr("Use Enchanced Compression (NOT SAFE)"), this);

    for (QLabel* label : {label1_, label2_, label3_, image1_}) label->setFocusPolicy(Qt::NoFocus);
    progressBar1_->setFocusPolicy(Qt::NoFocus);
}

void Form1::placeControls() {
    const std::pair<const char*, QWidget*> controls[] = {
        {"Check1", check1_},     {"Command4", command4_}, {"ProgressBar1", progressBar1_},
        {"Command3", command3_}, {"Command1", command1_}, {"ListView1", listView1_},
        {"Label3", label3_},     {"Image1", image1_},     {"Label2", label2_},
        {"Label1", label1_},     {"Shape1", shape1_},     {"Shape2", shape2_},
    };
    for (const auto& [name, widget] : controls) {
        widget->setObjectName(QLatin1String(name));
        for (const Placement& p : kDesign)
            if (qstrcmp(p.name, name) == 0)
                widget->setGeometry(pixels(p.left), pixels(p.top), pixels(p.width),
                                    pixels(p.height));
    }
    // Raising from the back to the front leaves the first of the design on top.
    for (auto it = std::rbegin(controls); it != std::rend(controls); ++it) it->second->raise();

    QWidget* previous = nullptr;
    for (int index = 0; index < static_cast<int>(std::size(kTabOrder)); ++index) {
        QWidget* widget = findChild<QWidget*>(QLatin1String(kTabOrder[index]));
        widget->setProperty("tabIndex", index);
        if (widget->focusPolicy() == Qt::NoFocus) continue;
        if (previous) setTabOrder(previous, widget);
        previous = widget;
    }
}

void Form1::connectCommands() {
    connect(command1_, &QPushButton::clicked, this, &Form1::addFiles);
    connect(command3_, &QPushButton::clicked, this, &Form1::startCompression);
    connect(command4_, &QPushButton::clicked, this, &Form1::clearList);
    // clicked, unlike toggled, comes only from the user (mouse or keyboard), never from code.
    connect(check1_, &QCheckBox::clicked, this, &Form1::confirmOption);
    connect(listView1_, &ListView::listDoubleClicked, this, &Form1::openSelectedFile);
}

void Form1::addFiles() {
    if (busy_) return;
    const QStringList chosen = dialogs_.openFiles(
        this, tr("Select Web Pages"), {tr("HTML File(s) (*.html)"), tr("HTM File(s) (*.htm)")});
    if (chosen.isEmpty()) return;

    setBusy(true);
    YieldPacer pacer([this] { yield(); });
    QStringList refused;
    for (const QString& path : chosen) {
        // A name whose bytes are not text in the system's encoding reaches the window with
        // stand-in characters; turned back into bytes it would name another file, or none.
        if (path.contains(QChar::ReplacementCharacter) ||
            QFile::decodeName(QFile::encodeName(path)) != path) {
            refused << path;
            continue;
        }
        list_.insertAtTop(path);
        list_.setColumn(1, FileListModel::Size, fileSizeText(path));
        pacer.tick();
    }
    label2_->setText(QString::number(list_.count()));
    setBusy(false);
    if (!refused.isEmpty())
        dialogs_.message(this, MessageIcon::Warning,
                         tr("These files were not added: their names are not valid text in the "
                            "system's encoding, so the window cannot be sure to find them again. "
                            "vellork-cli can compress them.\n\n") +
                             refused.join(QChar(u'\n')));
    closeIfAsked();
}

void Form1::startCompression() {
    if (busy_) return;
    batch_.start();
    closeIfAsked();
}

void Form1::clearList() {
    if (busy_) return;
    list_.clear();
}

void Form1::confirmOption(bool) {
    const Dialogs::Answer answer = dialogs_.message(
        this, MessageIcon::Warning,
        tr("Enhanced Compression removes unecessary tags in the HTML file. This is not "
           "recommended if you are using Scripts (Like ASP, JAVA, PHP). Only use this compression "
           "for only HTML Files. Are you sure you want to continue?"),
        true);
    check1_->setChecked(answer == Dialogs::Answer::Yes);
}

void Form1::openSelectedFile() {
    const std::optional<QString> path = list_.selectedRowText();
    if (!path || path->isEmpty()) return;
    shell_.open(*path);
}

void Form1::setBusy(bool busy) {
    busy_ = busy;
    for (QWidget* command :
         std::initializer_list<QWidget*>{command1_, command3_, command4_, check1_})
        command->setEnabled(!busy);
}

void Form1::closeIfAsked() {
    if (closeRequested_) close();
}

void Form1::closeEvent(QCloseEvent* event) {
    if (busy_) {
        // The command in progress finishes the file in hand and then closes the window.
        closeRequested_ = true;
        event->ignore();
        return;
    }
    event->accept();
}

void Form1::showMessage(MessageIcon icon, const QString& text) {
    dialogs_.message(this, icon, text, false);
}

void Form1::setProgressMaximum(int maximum) {
    progressBar1_->setMaximum(maximum);
}

int Form1::progressMaximum() const {
    return progressBar1_->maximum();
}

void Form1::setProgressValue(int value) {
    progressBar1_->setValue(value);
}

void Form1::yield() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace vellork
