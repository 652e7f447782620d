#include "dbselect/dbselect_dialog.h"

#include <QKeyEvent>
#include <QVBoxLayout>
#include <new>

#include "app/look/codec.h"
#include "app/look/look.h"
#include "app/settings/settings.h"

namespace tallo::gui {

TfmDBSelect::TfmDBSelect(WindowServices& errors, QWidget* owner)
    : QDialog(owner, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                         Qt::WindowCloseButtonHint),
      errors_(errors) {
    setObjectName(QStringLiteral("fmDBSelect"));
    setWindowTitle(QStringLiteral("Select Database"));
    setFont(DesignFont(13));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);
    setSizeGripEnabled(false);

    ListBox1 = new ListBox(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->setSortingEnabled(false);
    ListBox1->setUniformItemSizes(true);
    connect(ListBox1, &ListBox::doubleClicked, this, &TfmDBSelect::ListBox1DblClick);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(ListBox1);

    // Client area 205 x 219 with its frame at 326, 205.
    resize(205, 219);
    move(326, 205);
}

std::string TfmDBSelect::SelectDatabase(const std::string& settings_path, const std::string& target_section,
                                        const std::string& list_section, bool pair_flag) {
    const std::vector<std::string> items =
        state_.Prepare(settings_path, target_section, list_section, pair_flag);
    ListBox1->clear();
    for (const std::string& alias : items) {
        auto* item = new QListWidgetItem(FromCp1251(alias), ListBox1);
        item->setSizeHint(QSize(0, 16));
    }
    exec();
    return state_.choice();
}

void TfmDBSelect::ListBox1DblClick() {
    std::optional<std::string> selected;
    for (int row = 0; row < ListBox1->count(); ++row) {
        if (ListBox1->item(row)->isSelected()) {
            selected = ToCp1251(ListBox1->item(row)->text());
            break;
        }
    }
    bool close = false;
    try {
        close = state_.ListBox1DblClick(selected);
    } catch (const std::bad_alloc&) {
        errors_.ShowStandardError("Out of memory");
    } catch (const std::exception& e) {
        errors_.ShowStandardError(e.what());
    }
    if (close)
        accept();
}

void TfmDBSelect::keyPressEvent(QKeyEvent* event) {
    // Neither Enter nor Escape chooses or closes: only a double-click does.
    switch (event->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Enter:
        case Qt::Key_Return:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void SelectDatabaseForWindow(WindowServices& window, QWidget* owner) {
    TfmDBSelect dialog(window, owner);
    btSelectDBClick(window, dialog, SettingsPath());
}

}  // namespace tallo::gui
