#include "app/FolderChooser.h"

#include "measurement/Triples.h"

#include <QAbstractItemView>
#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QStorageInfo>
#include <QTreeView>

TFolderChooser::TFolderChooser(QObject* owner, const char* driveName, const char* treeName,
                               const char* filesName)
    : QObject(owner), drives_(new QComboBox), folders_(new QTreeView), files_(new QListWidget),
      model_(new QFileSystemModel(this)) {
    drives_->setObjectName(QString::fromLatin1(driveName));
    folders_->setObjectName(QString::fromLatin1(treeName));
    files_->setObjectName(QString::fromLatin1(filesName));
    // A long mount point must not widen the window.
    drives_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    drives_->setMinimumContentsLength(8);
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    folders_->setModel(model_);
    for (int column = 1; column < model_->columnCount(); ++column)
        folders_->hideColumn(column);
    folders_->header()->hide();
    connect(folders_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& index) { FillFileList(model_->filePath(index)); });
    // The model reads folders in the background: the chosen folder's row
    // exists only once its parents are read, and moves as they are sorted.
    // Until the user moves in the tree, each such step scrolls it into view.
    connect(model_, &QFileSystemModel::directoryLoaded, this, &TFolderChooser::RevealFolder);
    connect(model_, &QFileSystemModel::layoutChanged, this, &TFolderChooser::RevealFolder);
    connect(folders_->verticalScrollBar(), &QScrollBar::actionTriggered, this,
            [this] { revealFolder_ = false; });
    files_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    folders_->installEventFilter(this);
    folders_->viewport()->installEventFilter(this);

    // Drives: the mounted volumes; the tree opens at the working folder.
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes())
        if (volume.isValid() && volume.isReady()) drives_->addItem(volume.rootPath());
    drives_->model()->sort(0);
    const QString start = QDir::currentPath();
    const int home = drives_->findText(QStorageInfo(start).rootPath());
    if (home >= 0) folder_ = start; // keeps DriveChanged from moving to the drive's root
    connect(drives_, &QComboBox::currentIndexChanged, this, &TFolderChooser::DriveChanged);
    drives_->setCurrentIndex(home >= 0 ? home : 0);
    DriveChanged(drives_->currentIndex());
    if (home >= 0) ChooseFolder(start);
}

void TFolderChooser::AddTo(QBoxLayout* layout) {
    layout->addWidget(drives_);
    layout->addWidget(folders_, 2);
    layout->addWidget(files_, 2);
}

std::vector<std::string> TFolderChooser::FileNames() const {
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(files_->count()));
    for (int i = 0; i < files_->count(); ++i)
        names.push_back(files_->item(i)->text().toStdString());
    return names;
}

void TFolderChooser::DriveChanged(int index) {
    if (index < 0) return;
    const QString drive = drives_->itemText(index);
    folders_->setRootIndex(model_->setRootPath(drive));
    if (!folder_.startsWith(drive)) ChooseFolder(drive);
}

void TFolderChooser::ChooseFolder(const QString& folder) {
    const QString path = QDir(folder).absolutePath();
    const QString drive = QStorageInfo(path).rootPath();
    const int driveIndex = drives_->findText(drive);
    if (driveIndex >= 0 && driveIndex != drives_->currentIndex()) {
        folder_ = path; // keeps DriveChanged from moving to the drive's root
        drives_->setCurrentIndex(driveIndex);
    }
    const QModelIndex index = model_->index(path);
    if (index.isValid()) folders_->setCurrentIndex(index);
    FillFileList(path);
    revealFolder_ = true;
    RevealFolder();
}

void TFolderChooser::RevealFolder() {
    if (!revealFolder_) return;
    const QModelIndex index = model_->index(folder_);
    if (index.isValid() && index == folders_->currentIndex())
        folders_->scrollTo(index); // opens its parents too
}

bool TFolderChooser::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == folders_ || watched == folders_->viewport()) {
        if (type == QEvent::MouseButtonPress || type == QEvent::KeyPress || type == QEvent::Wheel)
            revealFolder_ = false; // the user looks around the tree
        else if (type == QEvent::Resize || type == QEvent::Show)
            RevealFolder(); // where it lies in view depends on the tree's height
    }
    return QObject::eventFilter(watched, event);
}

void TFolderChooser::FillFileList(const QString& folder) {
    folder_ = folder;
    files_->clear();
    try {
        for (const std::string& name : merkanix::ListFolderFiles(folder.toStdString()))
            files_->addItem(QString::fromStdString(name));
    } catch (const std::exception&) {
        // A folder that cannot be read lists nothing, as an empty one does.
    }
}

TripleSearchControls AddTripleSearch(QBoxLayout* layout, const char* toleranceName,
                                     const QString& caption) {
    TripleSearchControls c;
    auto* row = new QHBoxLayout;
    c.tolerance = new QLineEdit("50");
    c.tolerance->setObjectName(QString::fromLatin1(toleranceName));
    c.tolerance->setFixedWidth(c.tolerance->fontMetrics().horizontalAdvance("00000") + 16);
    row->addWidget(new QLabel(caption));
    row->addWidget(c.tolerance);
    row->addWidget(new QLabel("(ms)"));
    row->addStretch();
    layout->addLayout(row);
    c.find = new QCheckBox("Nalezení trojic");
    c.find->setObjectName("CheckBox1");
    layout->addWidget(c.find);
    c.triples = new QListWidget;
    c.triples->setObjectName("ListBox1");
    c.triples->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addWidget(c.triples, 1);
    return c;
}
