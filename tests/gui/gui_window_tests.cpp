// The main window and the selection dialog, driven offscreen: the layout,
// the field behaviour, the bindings of controls and shortcuts, the boxes and
// the input block of a disabled window.
#include <algorithm>

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <stdexcept>

#include "app/gui/form1.h"
#include "app/gui/message_boxes.h"
#include "app/gui/script_commands.h"
#include "app/look/codec.h"
#include "app/look/look.h"
#include "app/startup/startup.h"
#include "base/text_rules.h"
#include "dbselect/dbselect_dialog.h"
#include "tests/support/fake_window_services.h"
#include "tests/support/temp_dir.h"
#include "text/win1251.h"

using namespace tallo;
using cp1251::operator""_cp;
using gui::TForm1;

namespace {

// Runs action on the next modal widget as soon as it is shown.
void OnModal(std::function<void(QWidget*)> action) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        action(modal);
    });
    timer->start();
}

// Counts how often each handler ran.
struct Calls {
    int create = 0, destroy = 0, exec = 0, version = 0, zip = 0, unzip = 0, select = 0;
};

gui::TForm1Handlers Recording(Calls& calls) {
    gui::TForm1Handlers h;
    h.FormCreate = [&calls](TForm1&) { ++calls.create; };
    h.FormDestroy = [&calls](TForm1&) { ++calls.destroy; };
    h.aExecScriptExecute = [&calls](TForm1&) { ++calls.exec; };
    h.DBVersionBitBtnClick = [&calls](TForm1&) { ++calls.version; };
    h.AZipFileExecute = [&calls](TForm1&) { ++calls.zip; };
    h.AUnzipFileExecute = [&calls](TForm1&) { ++calls.unzip; };
    h.btSelectDBClick = [&calls](TForm1&) { ++calls.select; };
    return h;
}

void ShowActive(QWidget& w) {
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
}

}  // namespace

class GuiWindowTests : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { gui::ApplyLook(*qApp); }

    // --- Layout -----------------------------------------------------------
    void geometryFollowsTheLayoutTable() {
        Calls calls;
        TForm1 form(Recording(calls));
        QCOMPARE(form.windowTitle(), QStringLiteral("Tallowmere Tarnwick v.1.0.3"));
        QCOMPARE(form.size(), QSize(528, 223));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        struct Row {
            QWidget* w;
            QRect box;
        };
        const Row rows[] = {
            {form.Panel1, {0, 0, 528, 41}},
            {form.Panel2, {0, 41, 528, 161}},
            {form.Panel3, {0, 202, 528, 21}},
            {form.Label1, {58, 13, 68, 13}},
            {form.eDBName, {136, 12, 337, 21}},
            {form.btSelectDB, {474, 11, 24, 22}},
            {form.eDB, {136, 32, 361, 21}},
            {form.Label2, {50, 57, 76, 13}},
            {form.eUserName, {136, 52, 121, 21}},
            {form.Label3, {85, 77, 41, 13}},
            {form.ePassw, {136, 72, 121, 21}},
            {form.Label4, {58, 97, 68, 13}},
            {form.eScript, {136, 92, 370, 21}},
            {form.SpeedButton1, {32, 120, 113, 25}},
            {form.DBVersionBitBtn, {388, 120, 113, 25}},
        };
        for (const Row& r : rows) {
            auto* l = qobject_cast<QLabel*>(r.w);
            if (l == nullptr) {
                QCOMPARE(r.w->geometry(), r.box);
                continue;
            }
            // A label keeps its place and right edge (126) and grows to the
            // left when the font needs more room than the design font did.
            const QRect g = l->geometry();
            QCOMPARE(g.right(), r.box.right());
            QCOMPARE(g.top(), r.box.top());
            QCOMPARE(g.height(), r.box.height());
            QCOMPARE(g.width(), std::max(r.box.width(), l->fontMetrics().horizontalAdvance(l->text())));
            QCOMPARE(g.right() + 1, 126);
            QCOMPARE(l->parentWidget(), form.Panel2);
        }
        QCOMPARE(form.Label1->text(), QStringLiteral("База данных:"));
        QCOMPARE(form.SpeedButton1->text(), QStringLiteral("Выполнить"));
        QCOMPARE(form.DBVersionBitBtn->text(), QStringLiteral("Версия БД"));
        QCOMPARE(form.btSelectDB->toolTip(), QStringLiteral("Выбрать базу данных..."));
        QCOMPARE(form.Panel1->palette().color(QPalette::WindowText), QColor(Qt::red));
        QCOMPARE(form.font().pixelSize(), 11);
    }

    void startsWithTheLayoutValuesAndFocusInScript() {
        Calls calls;
        TForm1 form(Recording(calls));
        QCOMPARE(calls.create, 1);
        QCOMPARE(form.Text(Field::eUserName), std::string("SYSDBA"));
        QVERIFY(form.ExecScriptEnabled());
        QVERIFY(form.eDBName->isReadOnly() && form.eDB->isReadOnly());
        QVERIFY(!form.eUserName->isReadOnly() && !form.eScript->isReadOnly());
        ShowActive(form);
        QCOMPARE(QApplication::focusWidget(), form.eScript);
    }

    void tabWalksTheFieldsAndTheVersionButton() {
        Calls calls;
        TForm1 form(Recording(calls));
        ShowActive(form);
        form.eDBName->setFocus();
        QList<QWidget*> seen;
        for (int i = 0; i < 6; ++i) {
            seen << QApplication::focusWidget();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QList<QWidget*> expected = {form.eDBName, form.eUserName, form.ePassw, form.eScript,
                                    form.DBVersionBitBtn};
        expected.insert(1, form.eDB);
        QCOMPARE(seen, expected);
        QCOMPARE(QApplication::focusWidget(), form.eDBName);
    }

    // --- Field behaviour -----------------------------------------------------
    void userNameTurnsLettersToUpperCaseCyrillicToo() {
        Calls calls;
        TForm1 form(Recording(calls));
        ShowActive(form);
        form.eUserName->setFocus();
        form.eUserName->selectAll();
        QTest::keyClicks(form.eUserName, "sysdba");
        QTest::sendKeyEvent(QTest::Click, form.eUserName, Qt::Key_unknown, QStringLiteral("ж"),
                            Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Click, form.eUserName, Qt::Key_unknown, QStringLiteral("ё"),
                            Qt::NoModifier);
        QCOMPARE(form.eUserName->text(), QStringLiteral("SYSDBAЖЁ"));
        QCOMPARE(form.Text(Field::eUserName), "SYSDBAЖЁ"_cp);
        form.eUserName->insert(QStringLiteral("пользователь"));  // as a paste does
        QCOMPARE(form.eUserName->text(), QStringLiteral("SYSDBAЖЁПОЛЬЗОВАТЕЛЬ"));
    }

    void passwordShowsAStarForEveryCharacter() {
        Calls calls;
        TForm1 form(Recording(calls));
        ShowActive(form);
        form.ePassw->setFocus();
        QTest::keyClicks(form.ePassw, "abc");
        QTest::sendKeyEvent(QTest::Click, form.ePassw, Qt::Key_unknown, QStringLiteral("й"), Qt::NoModifier);
        QCOMPARE(form.ePassw->displayText(), QStringLiteral("****"));
        QCOMPARE(form.Text(Field::ePassw), "abcй"_cp);
    }

    void escapeBringsBackTheTextOfTheFieldsEntry() {
        Calls calls;
        TForm1 form(Recording(calls));
        ShowActive(form);
        form.eUserName->setFocus();
        form.eUserName->end(false);
        QTest::keyClicks(form.eUserName, "X");
        QCOMPARE(form.eUserName->text(), QStringLiteral("SYSDBAX"));
        QTest::keyClick(form.eUserName, Qt::Key_Escape);
        QCOMPARE(form.eUserName->text(), QStringLiteral("SYSDBA"));
        QCOMPARE(form.eUserName->selectedText(), QStringLiteral("SYSDBA"));
        // A text the program sets since the entry is the one Escape brings back.
        form.eScript->setFocus();
        form.SetText(Field::eScript, "/data/a.sql");
        QTest::keyClicks(form.eScript, "zzz");
        QTest::keyClick(form.eScript, Qt::Key_Escape);
        QCOMPARE(form.eScript->text(), QStringLiteral("/data/a.sql"));
    }

    void ctrlASelectsAllAndReadOnlyFieldsCopy() {
        Calls calls;
        TForm1 form(Recording(calls));
        form.SetText(Field::eDB, "C:\\db\\main.fdb");
        ShowActive(form);
        form.eDB->setFocus();
        QTest::keyClick(form.eDB, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(form.eDB->selectedText(), QStringLiteral("C:\\db\\main.fdb"));
        QTest::keyClicks(form.eDB, "x");
        QCOMPARE(form.eDB->text(), QStringLiteral("C:\\db\\main.fdb"));
    }

    void statusLineKeepsTheWholeTextAndShowsTheFirstLine() {
        Calls calls;
        TForm1 form(Recording(calls));
        form.SetStatus("Готово\r\nвторая"_cp);
        QCOMPARE(form.Text(Field::Panel3), "Готово\r\nвторая"_cp);
        QCOMPARE(form.Panel3->text(), QStringLiteral("Готово\r\nвторая"));
    }

    // --- Bindings ---------------------------------------------------------------
    void zipAndUnzipShortcutsActFromEveryField() {
        Calls calls;
        TForm1 form(Recording(calls));
        ShowActive(form);
        int n = 0;
        for (QWidget* field :
             {static_cast<QWidget*>(form.eDBName), static_cast<QWidget*>(form.eDB),
              static_cast<QWidget*>(form.eUserName), static_cast<QWidget*>(form.ePassw),
              static_cast<QWidget*>(form.eScript), static_cast<QWidget*>(form.DBVersionBitBtn)}) {
            field->setFocus();
            QTest::keyClick(field, Qt::Key_F11, Qt::ControlModifier);
            QTest::keyClick(field, Qt::Key_F12, Qt::ControlModifier);
            ++n;
            QCOMPARE(calls.zip, n);
            QCOMPARE(calls.unzip, n);
        }
        QCOMPARE(form.AZipFile->text(), QStringLiteral("Zip File"));
        QCOMPARE(form.AUnzipFile->text(), QStringLiteral("Unzip File"));
    }

    void buttonsAndLabelRunTheirHandlers() {
        Calls calls;
        TForm1 form(Recording(calls));
        ShowActive(form);
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        QCOMPARE(calls.exec, 1);
        QTest::mouseClick(form.DBVersionBitBtn, Qt::LeftButton);
        QCOMPARE(calls.version, 1);
        QTest::mouseClick(form.btSelectDB, Qt::LeftButton);
        QCOMPARE(calls.select, 1);
        QTest::mouseDClick(form.Label1, Qt::LeftButton);
        QCOMPARE(calls.select, 2);
        // Enter starts no command.
        form.DBVersionBitBtn->setFocus();
        QTest::keyClick(form.DBVersionBitBtn, Qt::Key_Return);
        QCOMPARE(calls.version, 1);
        // The buttons without focus stay out of the focus.
        QCOMPARE(form.SpeedButton1->focusPolicy(), Qt::NoFocus);
        QCOMPARE(form.btSelectDB->focusPolicy(), Qt::NoFocus);
    }

    void runKeysStartTheRunFromEveryFieldButNeverASecondCommand() {
        struct Key {
            Qt::Key key;
            Qt::KeyboardModifiers modifiers;
        };
        const Key keys[] = {{Qt::Key_F9, Qt::NoModifier},
                            {Qt::Key_Return, Qt::ControlModifier},
                            {Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier}};
        auto press_all = [&keys](QWidget* w) {
            for (const Key& k : keys)
                QTest::keyClick(w, k.key, k.modifiers);
        };
        Calls calls;
        gui::TForm1Handlers h = Recording(calls);
        h.DBVersionBitBtnClick = [&](TForm1& f) {
            ++calls.version;
            press_all(f.eScript);
        };
        TForm1 form(std::move(h));
        ShowActive(form);
        int runs = 0;
        for (QWidget* w :
             std::initializer_list<QWidget*>{form.eScript, form.eUserName, form.DBVersionBitBtn}) {
            w->setFocus();
            for (const Key& k : keys) {
                QTest::keyClick(w, k.key, k.modifiers);
                QCOMPARE(calls.exec, ++runs);
            }
        }
        // Not with the command off, not in a disabled window, not during another command.
        form.SetExecScriptEnabled(false);
        press_all(form.eScript);
        form.SetExecScriptEnabled(true);
        form.SetWindowEnabled(false);
        press_all(form.eScript);
        form.SetWindowEnabled(true);
        QTest::mouseClick(form.DBVersionBitBtn, Qt::LeftButton);
        QCOMPARE(calls.version, 1);
        QCOMPARE(calls.exec, runs);
    }

    void theRunButtonFollowsTheRunCommand() {
        Calls calls;
        TForm1 form(Recording(calls));
        ShowActive(form);
        form.SetExecScriptEnabled(false);
        QVERIFY(!form.SpeedButton1->isEnabled());
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        QCOMPARE(calls.exec, 0);
        form.SetExecScriptEnabled(true);
        QVERIFY(form.SpeedButton1->isEnabled());
    }

    void ellipsisAndAltDownOpenTheScriptDialog() {
        Calls calls;
        TForm1 form(Recording(calls));
        ShowActive(form);
        testing::TempDir dir;
        const QString missing = QString::fromStdString(dir / "new.sql");
        form.OD().filter_index = 2;
        QString title, filter;
        OnModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            QVERIFY(dialog != nullptr);
            title = dialog->windowTitle();
            filter = dialog->selectedNameFilter();
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name != nullptr);
            name->setText(missing);
            QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
        });
        QTest::mouseClick(form.eScriptButton, Qt::LeftButton);
        QCOMPARE(title, QStringLiteral("Выберите скрипт для выполнения"));
        QVERIFY(filter.startsWith(QStringLiteral("Script Files")));
        QCOMPARE(form.eScript->text(), missing);

        // Alt+Down: the same dialog, the last name offered; cancel keeps the field.
        QString offered;
        OnModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            QVERIFY(dialog != nullptr);
            title = dialog->windowTitle();
            offered = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
            dialog->reject();
        });
        form.eScript->setFocus();
        QTest::keyClick(form.eScript, Qt::Key_Down, Qt::AltModifier);
        QCOMPARE(title, QStringLiteral("Выберите скрипт для выполнения"));
        QCOMPARE(offered, QStringLiteral("new.sql"));
        QCOMPARE(form.eScript->text(), missing);
    }

    void fileDialogTakesTheFilterPairsAndLeavesTheIndexChosen() {
        Calls calls;
        TForm1 form(Recording(calls));
        testing::TempDir dir;
        form.OD().filter = "Script Files|*.zql|Script Report Files|*.zxt|All Files (*.*)|*.*";
        form.OD().filter_index = 2;
        form.OD().title = "Выберите файл для распаковки"_cp;
        QStringList filters;
        QString selected;
        OnModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            filters = dialog->nameFilters();
            selected = dialog->selectedNameFilter();
            dialog->selectNameFilter(filters.value(2));
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                ->setText(QString::fromStdString(dir / "report"));
            QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
        });
        QVERIFY(form.ExecuteOD());
        QCOMPARE(filters.size(), 3);
        QVERIFY(selected.startsWith(QStringLiteral("Script Report Files")));
        QCOMPARE(form.OD().filter_index, 3);
        // A name typed without extension gets the default one.
        QCOMPARE(form.OD().file_name, dir / "report.sql");
        OnModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
        QVERIFY(!form.ExecuteOD());
        QCOMPARE(form.OD().file_name, dir / "report.sql");
        QCOMPARE(form.OD().filter_index, 3);
    }

    // --- Boxes --------------------------------------------------------------------
    void yesNoQuestionAnswersYesOnlyForYes() {
        Calls calls;
        TForm1 form(Recording(calls));
        struct Case {
            std::function<void(QMessageBox*)> close;
            bool expected;
        };
        const Case cases[] = {
            {[](QMessageBox* b) { QTest::keyClick(b, Qt::Key_Return); }, true},
            {[](QMessageBox* b) { QTest::keyClick(b, Qt::Key_Escape); }, false},
            {[](QMessageBox* b) { b->close(); }, false},
            {[](QMessageBox* b) { b->buttons().at(1)->click(); }, false},
        };
        for (const Case& c : cases) {
            QString caption, yes, no, text;
            bool critical = false;
            OnModal([&](QWidget* modal) {
                auto* box = qobject_cast<QMessageBox*>(modal);
                QVERIFY(box != nullptr);
                caption = box->windowTitle();
                text = box->text();
                critical = box->icon() == QMessageBox::Critical;
                yes = box->buttons().at(0)->text();
                no = box->buttons().at(1)->text();
                c.close(box);
            });
            QCOMPARE(form.AskErrorYesNo("Повторить?\r\nДа"_cp), c.expected);
            QCOMPARE(caption, QStringLiteral("Error"));
            QCOMPARE(text, QStringLiteral("Повторить?\nДа"));
            QVERIFY(critical);
            QCOMPARE(yes, QStringLiteral("&Yes"));
            QCOMPARE(no, QStringLiteral("&No"));
        }
    }

    void informationAndErrorBoxesCarryTheApplicationTitle() {
        Calls calls;
        TForm1 form(Recording(calls));
        QString caption, text, button;
        QMessageBox::Icon icon = QMessageBox::Warning;
        auto grab = [&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            caption = box->windowTitle();
            text = box->text();
            icon = box->icon();
            button = box->buttons().value(0)->text();
            QTest::keyClick(box, Qt::Key_Escape);
        };
        OnModal(grab);
        form.ShowInformation("Скрипт выполнен"_cp);
        QCOMPARE(caption, gui::FromCp1251(gui::AppTitle()));
        QCOMPARE(caption, QStringLiteral("Gui_window_tests"));
        QCOMPARE(text, QStringLiteral("Скрипт выполнен"));
        QCOMPARE(icon, QMessageBox::NoIcon);
        QCOMPARE(button, QStringLiteral("OK"));
        OnModal(grab);
        form.ShowStandardError("File not found");
        QCOMPARE(text, QStringLiteral("File not found."));
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(caption, QStringLiteral("Gui_window_tests"));
    }

    void aFailingHandlerIsShownAndTheWindowGoesOn() {
        Calls calls;
        gui::TForm1Handlers h = Recording(calls);
        h.AZipFileExecute = [](TForm1&) { throw std::runtime_error("Cannot open file \"x\". Denied"); };
        TForm1 form(std::move(h));
        ShowActive(form);
        QString text;
        OnModal([&](QWidget* modal) {
            text = qobject_cast<QMessageBox*>(modal)->text();
            modal->close();
        });
        QTest::keyClick(form.eScript, Qt::Key_F11, Qt::ControlModifier);
        QCOMPARE(text, QStringLiteral("Cannot open file \"x\". Denied."));
        QVERIFY(!form.CommandRunning());
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTest::keyClick(form.eScript, Qt::Key_F12, Qt::ControlModifier);
        QCOMPARE(calls.unzip, 1);
    }

    void aFailingFormCreateStillGivesAWindow() {
        Calls calls;
        gui::TForm1Handlers h = Recording(calls);
        h.FormCreate = [](TForm1&) {
            throw std::runtime_error("Cannot open file \"/x/Tallo-3.ini\". Denied");
        };
        QString text;
        OnModal([&](QWidget* modal) {
            text = qobject_cast<QMessageBox*>(modal)->text();
            modal->close();
        });
        TForm1 form(std::move(h));
        QCOMPARE(text, QStringLiteral("Cannot open file \"/x/Tallo-3.ini\". Denied."));
        ShowActive(form);
        QVERIFY(form.isVisible());
    }

    // --- Commands and the disabled window ----------------------------------------
    void aSecondCommandDoesNotStartWhileOneRuns() {
        Calls calls;
        gui::TForm1Handlers h = Recording(calls);
        h.DBVersionBitBtnClick = [&calls](TForm1& f) {
            ++calls.version;
            // The engine call processes messages: a click and a shortcut come in.
            QTest::mouseClick(f.SpeedButton1, Qt::LeftButton);
            QTest::keyClick(f.eScript, Qt::Key_F11, Qt::ControlModifier);
            f.ProcessMessages();
        };
        TForm1 form(std::move(h));
        ShowActive(form);
        QTest::mouseClick(form.DBVersionBitBtn, Qt::LeftButton);
        QCOMPARE(calls.version, 1);
        QCOMPARE(calls.exec, 0);
        QCOMPARE(calls.zip, 0);
        QVERIFY(form.SpeedButton1->isEnabled());
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        QCOMPARE(calls.exec, 1);
    }

    void aDisabledWindowTakesNoInputKeepsItsLookAndGetsItsFocusBack() {
        Calls calls;
        TForm1 form(Recording(calls));
        ShowActive(form);
        form.eUserName->setFocus();
        form.SetWindowEnabled(false);
        QTest::keyClicks(form.eUserName, "abc");
        QTest::keyClick(form.eUserName, Qt::Key_F11, Qt::ControlModifier);
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        QTest::mouseClick(form.btSelectDB, Qt::LeftButton);
        QTest::mouseClick(form.ePassw, Qt::LeftButton);
        QTest::mouseDClick(form.Label1, Qt::LeftButton);
        QCOMPARE(form.eUserName->text(), QStringLiteral("SYSDBA"));
        QCOMPARE(calls.zip + calls.exec + calls.select, 0);
        QVERIFY(form.SpeedButton1->isEnabled() && form.eUserName->isEnabled() && form.isEnabled());
        QVERIFY(!form.close());  // the close box waits too
        form.ePassw->setFocus();
        form.SetWindowEnabled(true);
        QCOMPARE(QApplication::focusWidget(), form.eUserName);
        QTest::keyClick(form.eUserName, Qt::Key_F11, Qt::ControlModifier);
        QCOMPARE(calls.zip, 1);
    }

    void sqlWaitCursorIsSetAndTakenBack() {
        Calls calls;
        TForm1 form(Recording(calls));
        form.SetCursorValue(kCursorSqlWait);
        QCOMPARE(form.CursorValue(), kCursorSqlWait);
        QVERIFY(QApplication::overrideCursor() != nullptr);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::BitmapCursor);
        QCOMPARE(QApplication::overrideCursor()->hotSpot(), QPoint(0, 0));
        QCOMPARE(QApplication::overrideCursor()->bitmap().size(), QSize(32, 32));
        form.SetCursorValue(kCursorSqlWait);
        // A box shows the default cursor and the value comes back afterwards.
        bool default_inside = false;
        OnModal([&](QWidget* modal) {
            default_inside = QApplication::overrideCursor() == nullptr && form.CursorValue() == 0;
            modal->close();
        });
        form.ShowInformation("x");
        QVERIFY(default_inside);
        QCOMPARE(form.CursorValue(), kCursorSqlWait);
        form.SetCursorValue(kCursorDefault);
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    // --- Stopping a script run ------------------------------------------------------
    // The window as the program wires it, over a stand-in engine that runs
    // for half a second. A stop request comes at the engine's first status
    // report; while its question is open, the close box and Escape come once
    // more and must not ask again.
    void stopRequestsAskDuringARunAndYesStopsIt() {
        enum Request { Escape, Close };
        struct Case {
            const char* engine;
            bool version_query;  // the request comes during the version query
            Request request;
            bool answer;
            int questions;
            bool failed;
        };
        const Case cases[] = {
            {STOP_ENGINE, false, Escape, true, 1, true},
            {STOP_ENGINE, false, Close, true, 1, true},
            {STOP_ENGINE, false, Escape, false, 1, false},
            {STOP_ENGINE_WITHOUT_CANCEL, false, Close, true, 0, false},
            {STOP_ENGINE_WITHOUT_CANCEL, false, Escape, true, 0, false},
            {STOP_ENGINE, true, Close, true, 0, false},
        };
        for (const Case& c : cases) {
            testing::TempDir dir;
            testing::CurrentFolder in_dir(dir.path());
            std::filesystem::create_symlink(c.engine, dir / "IBEScript.dll");
            testing::WriteBytes(dir / "Tallo-3.ini", "[System]\r\nDatabase=db.fdb\r\n");
            testing::WriteBytes(dir / "s.sql", "EXECUTE BLOCK AS BEGIN END;\r\n");
            EngineBinding engine;
            std::string script_text;
            gui::TForm1Handlers h;
            h.FormCreate = [&](TForm1& f) { FormCreate(f, engine, dir / "Tallo-3.ini"); };
            h.FormDestroy = [&](TForm1&) { FormDestroy(engine); };
            gui::WireScriptCommands(h, engine, script_text);
            TForm1 form(std::move(h));
            ShowActive(form);
            form.SetText(Field::eScript, dir / "s.sql");

            auto request = [&form](Request r) {
                if (r == Close)
                    form.close();
                else
                    QTest::keyClick(&form, Qt::Key_Escape);
            };
            std::vector<QString> questions, informations;
            QPointer<QMessageBox> seen;
            QTimer answer;
            answer.setInterval(5);
            QObject::connect(&answer, &QTimer::timeout, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (box == nullptr || !box->isVisible())
                    return;
                const bool question = box->buttons().size() == 2;
                if (box != seen) {  // answered on a later tick
                    seen = box;
                    (question ? questions : informations).push_back(box->text());
                    if (question && questions.size() == 1) {
                        QTimer::singleShot(0, [&] {
                            request(Close);
                            request(Escape);
                        });
                    }
                    return;
                }
                box->buttons().at(question && !c.answer ? 1 : 0)->click();
            });
            answer.start();
            QTimer::singleShot(0, [&] { request(c.request); });
            if (c.version_query)
                QTest::mouseClick(form.DBVersionBitBtn, Qt::LeftButton);
            else
                QTest::keyClick(form.eScript, Qt::Key_F9);
            answer.stop();

            QCOMPARE(int(questions.size()), c.questions);
            for (const QString& q : questions)
                QCOMPARE(q, QStringLiteral("Прервать выполнение скрипта?"));
            QVERIFY(form.isVisible() && form.InputEnabled());
            if (c.version_query) {
                QVERIFY(informations.empty());
                continue;
            }
            const std::string outcome = c.failed ? script::FailureText() : script::SuccessText();
            QCOMPARE(form.Text(Field::Panel3), outcome);
            QCOMPARE(informations.size(), std::size_t{1});
            const std::string protocol = testing::ReadBytes(dir / "Result.txt");
            QCOMPARE(protocol.find("Error: The operator stopped") != std::string::npos, c.failed);
        }
    }

    // --- Database selection dialog -----------------------------------------------------
    void labelDoubleClickOpensTheSelectionDialog() {
        testing::TempDir dir;
        const std::string ini = dir / "Tallo-3.ini";
        testing::WriteBytes(ini, "[Databases]\r\nMain=C:\\db\\main.fdb\r\nTest=D:\\db\\test.fdb\r\n");
        gui::TForm1Handlers h;
        h.btSelectDBClick = [ini](TForm1& f) {
            gui::TfmDBSelect dialog(f, &f);
            btSelectDBClick(f, dialog, ini);
        };
        TForm1 form(std::move(h));
        ShowActive(form);
        QString caption;
        QStringList items;
        QSize client;
        int item_height = 0;
        OnModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<gui::TfmDBSelect*>(modal);
            QVERIFY(dialog != nullptr);
            caption = dialog->windowTitle();
            client = dialog->size();
            QCOMPARE(dialog->pos(), QPoint(326, 205));
            for (int i = 0; i < dialog->ListBox1->count(); ++i)
                items << dialog->ListBox1->item(i)->text();
            item_height = dialog->ListBox1->visualItemRect(dialog->ListBox1->item(0)).height();
            QCOMPARE(dialog->ListBox1->geometry(), dialog->rect());
            // Neither Enter nor Escape closes it; a double-click on an item does.
            QTest::keyClick(dialog->ListBox1, Qt::Key_Escape);
            QTest::keyClick(dialog->ListBox1, Qt::Key_Return);
            QVERIFY(dialog->isVisible());
            QListWidgetItem* test = dialog->ListBox1->item(1);
            QRect r = dialog->ListBox1->visualItemRect(test);
            QTest::mouseClick(dialog->ListBox1->viewport(), Qt::LeftButton, {}, r.center());
            QTest::mouseDClick(dialog->ListBox1->viewport(), Qt::LeftButton, {}, r.center());
        });
        QTest::mouseDClick(form.Label1, Qt::LeftButton);
        QCOMPARE(caption, QStringLiteral("Select Database"));
        QCOMPARE(client, QSize(205, 219));
        QCOMPARE(items, (QStringList{QStringLiteral("Main"), QStringLiteral("Test")}));
        QCOMPARE(item_height, 16);
        QCOMPARE(form.Text(Field::eDBName), std::string("Test"));
        QCOMPARE(form.Text(Field::eDB), std::string("D:\\db\\test.fdb"));
    }

    void closingTheSelectionDialogChangesNothing() {
        testing::TempDir dir;
        const std::string ini = dir / "Tallo-3.ini";
        const std::string content = "[Databases]\r\nMain=C:\\db\\main.fdb\r\n";
        testing::WriteBytes(ini, content);
        testing::FakeWindowServices window;
        window.SetText(Field::eDBName, "Old");
        gui::TfmDBSelect dialog(window, nullptr);
        OnModal([](QWidget* modal) {
            auto* d = qobject_cast<gui::TfmDBSelect*>(modal);
            d->ListBox1->item(0)->setSelected(true);
            d->close();
        });
        btSelectDBClick(window, dialog, ini);
        QCOMPARE(window.Text(Field::eDBName), std::string("Old"));
        QCOMPARE(testing::ReadBytes(ini), content);
    }

    void aFailedWriteIsShownAndTheDialogStaysOpen() {
        testing::TempDir dir;
        const std::string ini = dir / "Tallo-3.ini";
        testing::WriteBytes(ini, "[Databases]\r\nMain=C:\\db\\main.fdb\r\n");
        testing::FakeWindowServices window;
        gui::TfmDBSelect dialog(window, nullptr);
        bool still_open = false;
        OnModal([&](QWidget* modal) {
            auto* d = qobject_cast<gui::TfmDBSelect*>(modal);
            // The file turns into a folder: it can no longer be written.
            std::filesystem::remove(ini);
            std::filesystem::create_directory(ini);
            QRect r = d->ListBox1->visualItemRect(d->ListBox1->item(0));
            QTest::mouseClick(d->ListBox1->viewport(), Qt::LeftButton, {}, r.center());
            QTest::mouseDClick(d->ListBox1->viewport(), Qt::LeftButton, {}, r.center());
            still_open = d->isVisible();
            d->close();
        });
        const std::string choice = dialog.SelectDatabase(ini, "System", "Databases", true);
        QVERIFY(still_open);
        QCOMPARE(choice, std::string());
        QCOMPARE(window.errors, (std::vector<std::string>{"Unable to write to " + ini}));
    }
};

QTEST_MAIN(GuiWindowTests)
#include "gui_window_tests.moc"
