#include "form1.h"

#include "design.h"
#include "pacer.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QMimeData>
#include <QPaintEngine>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRawFont>
#include <QScreen>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QtEndian>

#include <algorithm>
#include <functional>

namespace vellork {

namespace {

using design::pixels;

QColor color(design::Rgb rgb) {
    return QColor(rgb.r, rgb.g, rgb.b);
}
const QColor kLightYellow = color(design::kLightYellow);
const QColor kDarkRed = color(design::kDarkRed);
const QColor kSilver = color(design::kSilver);

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

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
    font.setFamilies({text(design::kFontFace), QStringLiteral("DejaVu Sans Condensed"),
                      QStringLiteral("Liberation Sans Narrow"), QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    return font;
}

// A line of text as the system's controls measure it, from the font's Windows ascent and descent
// (OS/2 usWinAscent and usWinDescent): its baseline below the top, and its height. Qt measures with
// the typographic ones, which for Tahoma put the baseline 2 px higher. Qt's own figures for a
// font without those tables.
struct SystemLine {
    int ascent, height;
};

SystemLine systemLine(const QFont& font) {
    const QFontMetrics metrics(font);
    const QRawFont raw = QRawFont::fromFont(font);
    const QByteArray os2 = raw.fontTable("OS/2"), head = raw.fontTable("head");
    const quint16 unitsPerEm =
        head.size() >= 20 ? qFromBigEndian<quint16>(head.constData() + 18) : 0;
    if (os2.size() < 78 || unitsPerEm == 0) return {metrics.ascent(), metrics.height()};
    const auto pixels = [&](int offset) {
        return qRound(qFromBigEndian<quint16>(os2.constData() + offset) * raw.pixelSize() /
                      unitsPerEm);
    };
    return {pixels(74), pixels(74) + pixels(76)};
}

// The list's header and rows as high as the system's list view makes them: a line of text and
// 2 px above and below it for the header; the taller of the row picture and a line of text, and
// one pixel, for a row.
class Header : public QHeaderView {
public:
    using QHeaderView::QHeaderView;
    QSize sizeHint() const override {
        return {QHeaderView::sizeHint().width(), systemLine(font()).height + 4};
    }
};

class RowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(std::max(option.decorationSize.height(), systemLine(option.font).height) +
                       1);
        return size;
    }
};

// One picture in the versions drawn for several scales; Qt chooses among them by the screen's.
QIcon versions(std::initializer_list<const char*> files) {
    QIcon picture;
    for (const char* file : files) picture.addFile(QLatin1String(file));
    return picture;
}

QString fileSizeText(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() ? QString::number(info.size()) : QString();
}

// The pages that dropped paths bring: a dropped page itself, and every page under a dropped
// folder in sorted order. Symbolic links inside a folder are passed over, so a drop never
// reaches pages outside the folder the user chose. `goOn` is asked between entries and may
// stop the search.
QStringList pagesIn(const QStringList& dropped, const std::function<bool()>& goOn) {
    QStringList pages;
    for (const QString& item : dropped) {
        const QString path = QDir::cleanPath(item);
        if (!QFileInfo(path).isDir()) {
            if (isPageName(path.toStdString())) pages << QDir::toNativeSeparators(path);
            continue;
        }
        QStringList found;
        QDirIterator it(path, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                        QDirIterator::Subdirectories);
        while (it.hasNext() && goOn()) {
            const QString file = it.next();
            if (isPageName(file.toStdString())) found << QDir::toNativeSeparators(file);
        }
        found.sort();
        pages += found;
    }
    return pages;
}

bool hasLocalFiles(const QMimeData* mime) {
    if (!mime) return false;
    const QList<QUrl> urls = mime->urls();
    return std::any_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
}

}  // namespace

ListView::ListView(QWidget* parent) : QTreeView(parent) {
    viewport()->setAcceptDrops(true);
}

void ListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeView::mouseDoubleClickEvent(event);
    emit listDoubleClicked();
}

// A drop only names files for the list, so it is taken as a copy and never as a move, which
// would tell a file manager to delete what was dropped.
bool ListView::takeDrag(QDropEvent* event) {
    const bool takes = takesDrops_ && (event->possibleActions() & Qt::CopyAction) &&
                       hasLocalFiles(event->mimeData());
    if (takes) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
    return takes;
}

void ListView::dragEnterEvent(QDragEnterEvent* event) {
    takeDrag(event);
}

void ListView::dragMoveEvent(QDragMoveEvent* event) {
    takeDrag(event);
}

void ListView::dropEvent(QDropEvent* event) {
    if (!takeDrag(event)) return;
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    emit pathsDropped(paths);
}

Shape::Shape(QColor fill, QColor border, QWidget* parent)
    : QWidget(parent), fill_(fill), border_(border) {}

void Shape::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), fill_);
    painter.setPen(border_);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

Picture::Picture(QIcon versions, QWidget* parent) : QWidget(parent), versions_(versions) {}

void Picture::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // The scale of what is really painted on: the screen's, or that of a picture the window is
    // rendered into.
    const qreal scale = painter.paintEngine()->paintDevice()->devicePixelRatioF();
    const QPixmap picture = versions_.pixmap(size(), scale);
    // Drawn pixel for pixel, even where the box is a fraction of a pixel narrower; past the
    // largest version, that one is stretched smoothly over the box.
    if (picture.deviceIndependentSize().width() < width())
        painter.drawPixmap(rect(), picture);
    else
        painter.drawPixmap(0, 0, picture);
}

Form1::Form1(Dialogs& dialogs, Shell& shell, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      dialogs_(dialogs),
      shell_(shell) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(programTitle());
    setFixedSize(pixels(design::kClientWidthTwips), pixels(design::kClientHeightTwips));
    // Controls that name no font of their own take the dialog font of the system the window
    // was designed on; Tahoma 8.25 pt stands closest to it.
    setFont(tahoma(design::kFontPoints));
    buildControls();
    placeControls();
    connectCommands();
    listView1_->setFocus();
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

QIcon Form1::rowPicture() {
    return versions({":/vellork/page16.png", ":/vellork/page24.png", ":/vellork/page32.png"});
}

QIcon Form1::banner() {
    return versions(
        {":/vellork/banner.png", ":/vellork/banner@1.5x.png", ":/vellork/banner@2x.png"});
}

void Form1::buildControls() {
    const QPalette standard = palette();

    shape2_ = new Shape(kLightYellow, standard.color(QPalette::WindowText), this);
    shape1_ = new Shape(standard.color(QPalette::Base), kSilver, this);

    label1_ = new QLabel(text(design::kCountCaption), this);
    label2_ = new QLabel(QStringLiteral("0"), this);
    for (QLabel* label : {label1_, label2_}) label->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    image1_ = new Picture(banner(), this);

    label3_ = new QLabel(text(design::kWarning), this);
    label3_->setFont(tahoma(design::kWarningPoints));
    label3_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label3_->setAutoFillBackground(true);
    QPalette warning = label3_->palette();
    warning.setColor(QPalette::Window, kLightYellow);
    warning.setColor(QPalette::WindowText, kDarkRed);
    label3_->setPalette(warning);
    // Labels write their text from the top of their box, its baseline where the system's labels
    // put it.
    for (QLabel* label : {label1_, label2_, label3_})
        label->setContentsMargins(
            0, std::max(0, systemLine(label->font()).ascent - QFontMetrics(label->font()).ascent()),
            0, 0);

    listView1_ = new ListView(this);
    listView1_->setHeader(new Header(Qt::Horizontal, listView1_));
    list_.setRowDecoration(rowPicture());
    listView1_->setModel(&list_);
    listView1_->setSelectionModel(list_.selection());
    listView1_->setFont(tahoma(design::kFontPoints));
    listView1_->setToolTip(text(design::kListTip));
    listView1_->setRootIsDecorated(false);
    listView1_->setItemsExpandable(false);
    listView1_->setUniformRowHeights(true);
    listView1_->setSortingEnabled(false);
    listView1_->setAllColumnsShowFocus(true);
    listView1_->setSelectionBehavior(QAbstractItemView::SelectRows);
    listView1_->setSelectionMode(QAbstractItemView::SingleSelection);
    listView1_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    listView1_->setIconSize(QSize(16, 16));
    listView1_->setItemDelegate(new RowDelegate(listView1_));
    QHeaderView* header = listView1_->header();
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int column = 0; column < FileListModel::ColumnCount; ++column)
        header->resizeSection(column, pixels(FileListModel::columnWidthTwips(column)));

    command1_ = new QPushButton(text(design::kAddFile), this);
    command3_ = new QPushButton(text(design::kStart), this);
    command4_ = new QPushButton(text(design::kClearList), this);
    for (QPushButton* button : {command1_, command3_, command4_}) {
        button->setFont(tahoma(design::kFontPoints));
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    progressBar1_ = new QProgressBar(this);
    progressBar1_->setRange(0, 100);
    progressBar1_->setValue(0);
    progressBar1_->setTextVisible(false);

    check1_ = new QCheckBox(text(design::kOption), this);

    for (QLabel* label : {label1_, label2_, label3_}) label->setFocusPolicy(Qt::NoFocus);
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
        const design::Placement& p = design::placement(name);
        widget->setGeometry(pixels(p.left), pixels(p.top), pixels(p.width), pixels(p.height));
    }
    // Raising from the back to the front leaves the first of the design on top.
    for (auto it = std::rbegin(controls); it != std::rend(controls); ++it) it->second->raise();

    QWidget* previous = nullptr;
    for (int index = 0; index < static_cast<int>(std::size(design::kTabOrder)); ++index) {
        QWidget* widget = findChild<QWidget*>(QLatin1String(design::kTabOrder[index]));
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
    // Queued, so the file manager hears at once that the drop was taken, while the window
    // searches folders and adds rows afterwards with its usual turns at waiting events.
    connect(listView1_, &ListView::pathsDropped, this, &Form1::addDropped, Qt::QueuedConnection);
}

void Form1::addFiles() {
    if (busy_) return;
    const QStringList chosen = dialogs_.openFiles(
        this, text(design::kOpenTitle), {tr("HTML File(s) (*.html)"), tr("HTM File(s) (*.htm)")});
    if (chosen.isEmpty()) return;
    addPaths(chosen);
}

void Form1::addDropped(const QStringList& paths) {
    if (busy_) return;  // a batch began between the drop and now: the drop is refused whole
    setBusy(true);
    YieldPacer pacer([this] { yield(); });
    const QStringList pages = pagesIn(paths, [&] {
        pacer.tick();
        return !closeRequested_;
    });
    setBusy(false);
    if (closeRequested_) {
        closeIfAsked();
        return;
    }
    if (!pages.isEmpty()) addPaths(pages);
}

void Form1::addPaths(const QStringList& paths) {
    setBusy(true);
    YieldPacer pacer([this] { yield(); });
    QStringList refused;
    for (const QString& path : paths) {
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
    const Dialogs::Answer answer =
        dialogs_.message(this, MessageIcon::Warning, text(design::kOptionQuestion), true);
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
    listView1_->setTakesDrops(!busy);
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

void Form1::showMessage(MessageIcon icon, const std::string& text) {
    dialogs_.message(this, icon, QString::fromStdString(text), false);
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
