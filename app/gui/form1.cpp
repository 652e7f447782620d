#include "app/gui/form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>
#include <new>

#include "app/gui/message_boxes.h"
#include "app/gui/pictures.h"
#include "app/gui/script_choice.h"
#include "app/look/codec.h"
#include "app/look/look.h"
#include "base/scope_exit.h"

namespace tallo::gui {

namespace {

constexpr int kClientWidth = 528;
constexpr int kClientHeight = 223;

// "Description|pattern|..." pairs as Qt name filters: the description is
// shown as it is (the details are hidden), the patterns are passed behind it.
QStringList NameFilters(const std::string& filter) {
    QStringList parts = FromCp1251(filter).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return filters;
}

// The description of a name filter made by NameFilters.
QString Description(const QString& filter) {
    return filter.left(filter.lastIndexOf(QStringLiteral(" (")));
}

bool IsInputEvent(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::ContextMenu:
        case QEvent::HoverEnter:
        case QEvent::HoverLeave:
        case QEvent::HoverMove:
        case QEvent::Enter:
        case QEvent::Leave:
        case QEvent::InputMethod:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::TabletMove:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            return true;
        default:
            return false;
    }
}

}  // namespace

TForm1::TForm1(TForm1Handlers handlers, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      handlers_(std::move(handlers)) {
    BuildLayout();
    BindHandlers();
    qApp->installEventFilter(this);
    RunHandler(handlers_.FormCreate);
}

TForm1::~TForm1() {
    qApp->removeEventFilter(this);
    if (handlers_.FormDestroy) {
        try {
            handlers_.FormDestroy(*this);
        } catch (const std::exception& e) {
            StandardErrorBox(e.what());
        }
    }
    while (QApplication::overrideCursor() != nullptr && cursor_value_ != kCursorDefault) {
        QApplication::restoreOverrideCursor();
        cursor_value_ = kCursorDefault;
    }
}

void TForm1::BuildLayout() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tallowmere Tarnwick v.1.0.3"));
    setFixedSize(kClientWidth, kClientHeight);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);
    setFont(DesignFont(11));

    Panel1 = new Panel(true, this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 0, 528, 41);
    Panel1->setText(
        QStringLiteral("Перед проведением операций рекомендуется сделать резервную копию базы (BACKUP) !"));
    QPalette red = Panel1->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    Panel1->setPalette(red);

    Panel2 = new Panel(false, this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setGeometry(0, 41, 528, 161);

    Panel3 = new Panel(true, this);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setGeometry(0, 202, 528, 21);

    auto label = [this](QLabel* l, const char* name, QRect box) {
        l->setObjectName(QLatin1String(name));
        l->setParent(Panel2);
        // Labels size themselves to their text with the right edge at 126:
        // a font a little wider than the design font grows them to the left
        // instead of cutting off their first letter.
        const int text_width = l->fontMetrics().horizontalAdvance(l->text());
        if (text_width > box.width())
            box.setLeft(box.right() + 1 - text_width);
        l->setGeometry(box);
        l->setAlignment(Qt::AlignRight | Qt::AlignTop);
    };
    Label1 = new ClickLabel(QStringLiteral("База данных:"), Panel2);
    label(Label1, "Label1", QRect(58, 13, 68, 13));
    Label2 = new QLabel(QStringLiteral("Пользователь:"), Panel2);
    label(Label2, "Label2", QRect(50, 57, 76, 13));
    Label3 = new QLabel(QStringLiteral("Пароль:"), Panel2);
    label(Label3, "Label3", QRect(85, 77, 41, 13));
    Label4 = new QLabel(QStringLiteral("Скрипт-файл:"), Panel2);
    label(Label4, "Label4", QRect(58, 97, 68, 13));

    auto edit = [this](const char* name, QRect box) {
        auto* e = new Edit(Panel2);
        e->setObjectName(QLatin1String(name));
        e->setGeometry(box);
        return e;
    };
    eDBName = edit("eDBName", QRect(136, 12, 337, 21));
    eDB = edit("eDB", QRect(136, 32, 361, 21));
    eUserName = edit("eUserName", QRect(136, 52, 121, 21));
    ePassw = edit("ePassw", QRect(136, 72, 121, 21));
    eScript = edit("eScript", QRect(136, 92, 370, 21));
    for (Edit* e : {eDBName, eDB}) {
        e->setReadOnly(true);
        QPalette pal = e->palette();
        pal.setColor(QPalette::Base, pal.color(QPalette::Midlight));
        e->setPalette(pal);
    }
    eUserName->setValidator(new UpperCaseValidator(eUserName));
    eUserName->SetProgramText(QStringLiteral("SYSDBA"));
    ePassw->setEchoMode(QLineEdit::Password);
    eScriptButton = new EllipsisButton(eScript);
    eScriptButton->setObjectName(QStringLiteral("eScriptButton"));

    btSelectDB = new QToolButton(Panel2);
    btSelectDB->setObjectName(QStringLiteral("btSelectDB"));
    btSelectDB->setGeometry(474, 11, 24, 22);
    btSelectDB->setFocusPolicy(Qt::NoFocus);
    btSelectDB->setIcon(PictureAIcon());
    btSelectDB->setIconSize(QSize(14, 15));
    btSelectDB->setToolTip(QStringLiteral("Выбрать базу данных..."));

    aExecScript = new QAction(PictureAIcon(), QStringLiteral("Выполнить"), this);
    aExecScript->setObjectName(QStringLiteral("aExecScript"));
    SpeedButton1 = new QToolButton(Panel2);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setGeometry(32, 120, 113, 25);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    SpeedButton1->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    SpeedButton1->setIconSize(QSize(14, 15));
    SpeedButton1->setDefaultAction(aExecScript);
    // The run button takes no focus: F9 and Ctrl+Enter (either Enter key)
    // run the script from the keyboard.
    aExecScript->setShortcuts({QKeySequence(Qt::Key_F9), QKeySequence(Qt::CTRL | Qt::Key_Return),
                               QKeySequence(Qt::CTRL | Qt::Key_Enter)});

    DBVersionBitBtn = new QPushButton(PictureBIcon(), QStringLiteral("Версия БД"), Panel2);
    DBVersionBitBtn->setObjectName(QStringLiteral("DBVersionBitBtn"));
    DBVersionBitBtn->setGeometry(388, 120, 113, 25);
    DBVersionBitBtn->setIconSize(QSize(16, 16));
    DBVersionBitBtn->setAutoDefault(false);

    AZipFile = new QAction(QStringLiteral("Zip File"), this);
    AZipFile->setObjectName(QStringLiteral("AZipFile"));
    AZipFile->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F11));
    AUnzipFile = new QAction(QStringLiteral("Unzip File"), this);
    AUnzipFile->setObjectName(QStringLiteral("AUnzipFile"));
    AUnzipFile->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F12));
    for (QAction* a : {aExecScript, AZipFile, AUnzipFile}) {
        a->setShortcutContext(Qt::WindowShortcut);
        addAction(a);
    }

    for (QWidget* w :
         std::initializer_list<QWidget*>{Panel1, Panel2, Panel3, Label1, Label2, Label3, Label4}) {
        w->setFocusPolicy(Qt::NoFocus);
    }
    setTabOrder(eDBName, eDB);
    setTabOrder(eDB, eUserName);
    setTabOrder(eUserName, ePassw);
    setTabOrder(ePassw, eScript);
    setTabOrder(eScript, DBVersionBitBtn);
    eScript->setFocus();
}

void TForm1::BindHandlers() {
    auto bind = [this](std::function<void(TForm1&)> TForm1Handlers::*member) {
        return [this, member] { RunHandler(handlers_.*member); };
    };
    connect(aExecScript, &QAction::triggered, this, bind(&TForm1Handlers::aExecScriptExecute));
    connect(AZipFile, &QAction::triggered, this, bind(&TForm1Handlers::AZipFileExecute));
    connect(AUnzipFile, &QAction::triggered, this, bind(&TForm1Handlers::AUnzipFileExecute));
    connect(DBVersionBitBtn, &QPushButton::clicked, this, bind(&TForm1Handlers::DBVersionBitBtnClick));
    connect(btSelectDB, &QToolButton::clicked, this, bind(&TForm1Handlers::btSelectDBClick));
    connect(Label1, &ClickLabel::doubleClicked, this, bind(&TForm1Handlers::btSelectDBClick));
    auto choose_script = [this] {
        RunCommand([this] {
            bool handled = false;
            eScriptEditButtons0Click(*this, handled);
        });
    };
    connect(eScriptButton, &QToolButton::clicked, this, choose_script);
    eScript->SetAltDownHandler(choose_script);
}

void TForm1::RunHandler(const std::function<void(TForm1&)>& handler) {
    if (!handler)
        return;
    RunCommand([&] { handler(*this); });
}

bool TForm1::RunCommand(const std::function<void()>& handler) {
    if (command_running_)
        return false;
    command_running_ = true;
    ScopeExit done([this] { command_running_ = false; });
    ShowFailureOf(handler);
    return true;
}

void TForm1::ShowFailureOf(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::bad_alloc&) {
        ShowStandardError("Out of memory");
    } catch (const std::exception& e) {
        ShowStandardError(e.what());
    }
}

// Comes while a command is still on the stack (the engine's status reports
// process the window's messages); a second request while the first is being
// answered is dropped.
void TForm1::RequestStop() {
    if (stop_request_running_ || !handlers_.StopScriptRequest)
        return;
    stop_request_running_ = true;
    ScopeExit done([this] { stop_request_running_ = false; });
    ShowFailureOf([this] { handlers_.StopScriptRequest(*this); });
}

Edit* TForm1::FieldEdit(Field field) const {
    switch (field) {
        case Field::eDBName:
            return eDBName;
        case Field::eDB:
            return eDB;
        case Field::eUserName:
            return eUserName;
        case Field::ePassw:
            return ePassw;
        case Field::eScript:
            return eScript;
        case Field::Panel3:
            break;
    }
    return nullptr;
}

std::string TForm1::Text(Field field) const {
    if (field == Field::Panel3)
        return ToCp1251(Panel3->text());
    // The script field holds a file name: the platform's own encoding.
    if (field == Field::eScript)
        return ToFileName(eScript->text());
    return ToCp1251(FieldEdit(field)->text());
}

void TForm1::SetText(Field field, const std::string& text) {
    if (field == Field::Panel3) {
        Panel3->setText(FromCp1251(text));
        return;
    }
    FieldEdit(field)->SetProgramText(field == Field::eScript ? FromFileName(text) : FromCp1251(text));
}

bool TForm1::ExecScriptEnabled() const {
    return aExecScript->isEnabled();
}

void TForm1::SetExecScriptEnabled(bool enabled) {
    aExecScript->setEnabled(enabled);
}

// A modal box shows the default cursor; the value from before comes back
// afterwards unless one was set while the box was shown.
template <class ShowBox>
auto TForm1::WithDefaultCursor(ShowBox show_box) {
    const std::int16_t before = cursor_value_;
    ApplyCursor(kCursorDefault);
    const unsigned changes = cursor_changes_;
    ScopeExit restore([&] {
        if (cursor_changes_ == changes)
            ApplyCursor(before);
    });
    return show_box();
}

void TForm1::ShowInformation(const std::string& text) {
    WithDefaultCursor([&] { InformationBox(text); });
}

bool TForm1::AskErrorYesNo(const std::string& text) {
    return WithDefaultCursor([&] { return ErrorYesNoBox(text); });
}

void TForm1::ShowStandardError(const std::string& message) {
    WithDefaultCursor([&] { StandardErrorBox(message); });
}

void TForm1::SetWindowEnabled(bool enabled) {
    if (enabled == input_enabled_)
        return;
    input_enabled_ = enabled;
    if (!enabled) {
        QWidget* focus = QApplication::focusWidget();
        focus_before_disable_ = (focus != nullptr && isAncestorOf(focus)) ? focus : nullptr;
        return;
    }
    if (focus_before_disable_ && QApplication::focusWidget() != focus_before_disable_) {
        focus_before_disable_->setFocus(Qt::OtherFocusReason);
    }
    focus_before_disable_ = nullptr;
}

void TForm1::SetCursorValue(std::int16_t value) {
    if (value == cursor_value_)
        return;
    ++cursor_changes_;
    ApplyCursor(value);
}

void TForm1::ApplyCursor(std::int16_t value) {
    if (value == cursor_value_)
        return;
    const bool had_override = cursor_value_ != kCursorDefault;
    cursor_value_ = value;
    if (value == kCursorDefault) {
        if (had_override)
            QApplication::restoreOverrideCursor();
        return;
    }
    // Only the SQL-wait cursor is ever set; any other value shows Qt's wait cursor.
    QCursor cursor = value == kCursorSqlWait ? SqlWaitCursor() : QCursor(Qt::WaitCursor);
    if (had_override) {
        QApplication::changeOverrideCursor(cursor);
    } else {
        QApplication::setOverrideCursor(cursor);
    }
}

void TForm1::ProcessMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool TForm1::ExecuteOD() {
    QFileDialog dialog(nullptr, FromCp1251(od_.title));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setWindowModality(Qt::ApplicationModal);
    QString suffix = FromCp1251(od_.default_ext);
    if (suffix.startsWith(QLatin1Char('.')))
        suffix.remove(0, 1);
    dialog.setDefaultSuffix(suffix);
    const QStringList filters = NameFilters(od_.filter);
    dialog.setNameFilters(filters);
    if (od_.filter_index >= 1 && od_.filter_index <= filters.size()) {
        dialog.selectNameFilter(filters[od_.filter_index - 1]);
    }
    if (!od_.file_name.empty())
        dialog.selectFile(FromFileName(od_.file_name));

    // Centred horizontally on the screen of the active window, one third of
    // the free height above it.
    QTimer::singleShot(0, &dialog, [&dialog, this] {
        QWidget* active = QApplication::activeWindow();
        QScreen* screen = active != nullptr ? active->screen() : this->screen();
        if (screen == nullptr)
            return;
        QRect area = screen->availableGeometry();
        QSize size = dialog.frameGeometry().size();
        dialog.move(area.left() + (area.width() - size.width()) / 2,
                    area.top() + (area.height() - size.height()) / 3);
    });

    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return false;
    od_.file_name = ToFileName(chosen.first());
    // The dialog names the filter left selected by its full text or, with the
    // details hidden, by its description alone.
    const QString selected = dialog.selectedNameFilter();
    for (qsizetype i = 0; i < filters.size(); ++i) {
        if (filters[i] == selected || Description(filters[i]) == selected) {
            od_.filter_index = static_cast<int>(i) + 1;
            break;
        }
    }
    return true;
}

bool TForm1::InsideWindow(QObject* object) const {
    for (QObject* o = object; o != nullptr; o = o->parent()) {
        if (o == this)
            return true;
    }
    return false;
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    // A disabled window takes no input at all, yet keeps its look; Escape
    // asks to stop the script run under way.
    if (!input_enabled_ && IsInputEvent(event->type()) && InsideWindow(watched)) {
        if (event->type() == QEvent::ShortcutOverride)
            event->accept();
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            RequestStop();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::showEvent(QShowEvent* event) {
    if (!shown_once_) {
        shown_once_ = true;
        if (QScreen* s = screen()) {
            QRect area = s->geometry();
            move(area.left() + (area.width() - width()) / 2, area.top() + (area.height() - height()) / 2);
        }
        eScript->setFocus(Qt::OtherFocusReason);
    }
    QWidget::showEvent(event);
}

void TForm1::closeEvent(QCloseEvent* event) {
    // A command is still on the stack while the window waits for it (a script
    // run processes messages): the window closes only once it has ended.
    // During a script run the close box and Alt+F4 ask to stop it instead.
    if (!input_enabled_)
        RequestStop();
    if (command_running_ || !input_enabled_) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

}  // namespace tallo::gui
