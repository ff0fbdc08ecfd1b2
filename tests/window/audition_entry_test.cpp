// How the user asks to hear a list's selected entry: the "试听" entry of the list's context menu
// (on the edit field and on the rest of the list), the key while the list has focus, and the
// tooltip that says both. Texts here are QStrings from UTF-8 literals.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "window/main_window.h"

// Failure messages show Qt texts as text.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

struct ListCase {
    const char* name;
    QComboBox* MainWindow::*list;
    void (MainWindow::*requested)();
    void (MainWindow::*other)();
    const char16_t* toolTipEnd;
};

void PrintTo(const ListCase& c, std::ostream* os) {
    *os << c.name;
}

QAction* AuditionAction(QComboBox* list) {
    for (QAction* action : list->actions()) {
        if (action->text() == QStringLiteral(u"试听")) {
            return action;
        }
    }
    return nullptr;
}

// The context menu the widget opens on a right click at its centre: its entries' texts, with
// "试听" chosen from it when choose is set.
QStringList OpenContextMenu(QWidget* widget, bool choose) {
    QStringList texts;
    // Fires inside the menu's own event loop; gone with this function if no menu opened.
    QTimer inMenu;
    inMenu.setSingleShot(true);
    QObject::connect(&inMenu, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr) {
            return;
        }
        QAction* audition = nullptr;
        for (QAction* action : menu->actions()) {
            texts << (action->isSeparator() ? QStringLiteral("|") : action->text());
            if (action->text() == QStringLiteral(u"试听")) {
                audition = action;
            }
        }
        if (choose && audition != nullptr) {
            menu->setActiveAction(audition);
            QTest::keyClick(menu, Qt::Key_Return);
        } else {
            menu->close();
        }
    });
    inMenu.start(0);
    const QPoint centre = widget->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, centre, widget->mapToGlobal(centre));
    QApplication::sendEvent(widget, &event);
    return texts;
}

class AuditionEntryTest : public testing::TestWithParam<ListCase> {
  protected:
    void SetUp() override {
        list_ = window_.*GetParam().list;
        list_->addItem(QStringLiteral(u"晓雯"), 101);
        list_->setCurrentIndex(0);
    }

    MainWindow window_;
    QComboBox* list_ = nullptr;
    QSignalSpy requested_{&window_, GetParam().requested};
    QSignalSpy other_{&window_, GetParam().other};
};

TEST_P(AuditionEntryTest, ToolTipNamesTheMenuEntryAndTheKey) {
    QAction* audition = AuditionAction(list_);
    ASSERT_NE(audition, nullptr);
    EXPECT_EQ(audition->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
    const QString tip = list_->toolTip();
    EXPECT_TRUE(tip.contains(QStringLiteral(u"“试听”"))) << tip.toStdString();
    EXPECT_TRUE(tip.contains(audition->shortcut().toString(QKeySequence::NativeText)))
        << tip.toStdString();
    EXPECT_TRUE(tip.endsWith(QString::fromUtf16(GetParam().toolTipEnd))) << tip.toStdString();
}

// The edit field keeps its own entries (undo, copy, paste...) below "试听".
TEST_P(AuditionEntryTest, EditFieldMenuStartsWithAuditionAndKeepsItsOwnEntries) {
    const QStringList texts = OpenContextMenu(list_->lineEdit(), true);

    ASSERT_GE(texts.size(), 3) << texts.join(u',').toStdString();
    EXPECT_EQ(texts[0], QStringLiteral(u"试听"));
    EXPECT_EQ(texts[1], QStringLiteral("|"));
    EXPECT_EQ(texts.count(QStringLiteral(u"试听")), 1);
    EXPECT_EQ(requested_.count(), 1);
    EXPECT_EQ(other_.count(), 0);
    // The menu can be opened again: the entry is not lost with the menu.
    OpenContextMenu(list_->lineEdit(), true);
    EXPECT_EQ(requested_.count(), 2);
}

TEST_P(AuditionEntryTest, ListMenuOutsideTheEditFieldOffersAudition) {
    EXPECT_EQ(OpenContextMenu(list_, true), QStringList{QStringLiteral(u"试听")});
    EXPECT_EQ(requested_.count(), 1);
    // Closing the menu without choosing asks for nothing.
    OpenContextMenu(list_, false);
    EXPECT_EQ(requested_.count(), 1);
}

TEST_P(AuditionEntryTest, KeyAuditionsTheFocusedListOnly) {
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
    list_->setFocus();
    QTest::keyClick(list_->lineEdit(), Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(requested_.count(), 1);
    EXPECT_EQ(other_.count(), 0);
    EXPECT_EQ(list_->currentText(), QStringLiteral(u"晓雯")) << "the key types nothing";

    // Elsewhere the key is no audition.
    window_.编辑框_即时广播_广播内容->setFocus();
    QTest::keyClick(window_.编辑框_即时广播_广播内容, Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(requested_.count(), 1);
    EXPECT_EQ(other_.count(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, AuditionEntryTest,
    testing::Values(ListCase{"Speakers", &MainWindow::组合框_即时广播_发音人,
                             &MainWindow::speakerAuditionRequested,
                             &MainWindow::trackAuditionRequested, u"试听所选发音人的声音"},
                    ListCase{"Tracks", &MainWindow::组合框_即时广播_背景音乐,
                             &MainWindow::trackAuditionRequested,
                             &MainWindow::speakerAuditionRequested, u"试听所选背景音乐"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
