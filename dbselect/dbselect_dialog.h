// The database selection dialog TfmDBSelect: a resizable window holding one
// list of database aliases; a double-click on a selected alias records it.
#pragma once

#include <QDialog>
#include <QListWidget>

#include "dbselect/dbselect.h"
#include "script/window_services.h"

namespace tallo::gui {

// A list box that reports a double-click after handling it (the click may
// select the item under it).
class ListBox : public QListWidget {
    Q_OBJECT
  public:
    using QListWidget::QListWidget;
  signals:
    void doubleClicked();

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        QListWidget::mouseDoubleClickEvent(event);
        emit doubleClicked();
    }
};

class TfmDBSelect : public QDialog, public DatabaseSelector {
    Q_OBJECT
  public:
    // errors: where a failure of a double-click is shown (the dialog stays
    // open after it).
    TfmDBSelect(WindowServices& errors, QWidget* owner);

    std::string SelectDatabase(const std::string& settings_path, const std::string& target_section,
                               const std::string& list_section, bool pair_flag) override;

    ListBox* ListBox1;

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void ListBox1DblClick();

    WindowServices& errors_;
    DBSelectState state_;
};

// btSelectDBClick of the main window with a new TfmDBSelect on the settings
// file beside the executable.
void SelectDatabaseForWindow(WindowServices& window, QWidget* owner);

}  // namespace tallo::gui
