#pragma once
// The drive box, folder tree and file list bound together: a drive roots the
// tree, a folder chosen in the tree fills the file list. The main window and
// the optimisation window each own one.
#include <QObject>
#include <QString>
#include <string>
#include <vector>

class QBoxLayout;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QFileSystemModel;
class QListWidget;
class QTreeView;
class QWidget;

class TFolderChooser : public QObject {
    Q_OBJECT
public:
    // The three controls get the names the handlers know them by; the tree
    // opens at the working folder.
    TFolderChooser(QObject* owner, const char* driveName, const char* treeName,
                   const char* filesName);

    // Drive box, tree and file list, one under the other.
    void AddTo(QBoxLayout* layout);

    // Chooses a folder as the drive box and folder tree would, and keeps it
    // in view in the tree while the tree fills.
    void ChooseFolder(const QString& folder);
    QString CurrentFolder() const { return folder_; }
    // The file list's names in its order.
    std::vector<std::string> FileNames() const;

    QComboBox* Drives() const { return drives_; }
    QTreeView* Folders() const { return folders_; }
    QListWidget* Files() const { return files_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void DriveChanged(int index);
    void RevealFolder();
    void FillFileList(const QString& folder);

    QComboBox* drives_;
    QTreeView* folders_;
    QListWidget* files_;
    QFileSystemModel* model_;
    QString folder_;
    bool revealFolder_ = false; // the chosen folder is to be kept in view in the tree
};

// The triple search under a folder chooser: the tolerance field with its
// caption and "(ms)", "Nalezení trojic" (CheckBox1) and the triple list
// (ListBox1, single selection), added to `layout` one under the other.
struct TripleSearchControls {
    QLineEdit* tolerance;
    QCheckBox* find;
    QListWidget* triples;
};
TripleSearchControls AddTripleSearch(QBoxLayout* layout, const char* toleranceName,
                                     const QString& caption);
