// Pause markers through the window as the user works it: the insert-pause button, the opened
// pause-time list, the entry picked in it, and the content box afterwards.
#include "window/pause_markers.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "window/main_window.h"

namespace {

class PauseMarkerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ConnectPauseMarkers(window_);
        window_.show();
        window_.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
        content()->setPlainText(QStringLiteral("你好世界"));
        Select(2, 2);
    }

    QPlainTextEdit* content() const { return window_.编辑框_即时广播_广播内容; }
    QComboBox* list() const { return window_.组合框_即时广播_停顿时间; }
    QAbstractItemView* popup() const { return list()->view(); }

    // Selects from anchor to position in the content box (no selection when they are equal).
    void Select(int anchor, int position) {
        QTextCursor cursor = content()->textCursor();
        cursor.setPosition(anchor);
        cursor.setPosition(position, QTextCursor::KeepAnchor);
        content()->setTextCursor(cursor);
    }

    // Clicks the insert-pause button, as the user does; true when the list has opened.
    bool OpenList() {
        QTest::mouseClick(window_.超级按钮_即时广播_插入停顿, Qt::LeftButton);
        return QTest::qWaitFor([this] { return popup()->isVisible(); }, 2000);
    }

    // Opens the list and clicks the entry.
    void Pick(const QString& entry) {
        ASSERT_TRUE(OpenList());
        const int row = list()->findText(entry);
        ASSERT_GE(row, 0) << entry.toStdString();
        const QRect item = popup()->visualRect(popup()->model()->index(row, 0));
        QTest::mouseClick(popup()->viewport(), Qt::LeftButton, {}, item.center());
        ASSERT_TRUE(QTest::qWaitFor([this] { return !popup()->isVisible(); }, 2000));
    }

    MainWindow window_;
};

class PickedEntryTest : public PauseMarkerTest,
                        public ::testing::WithParamInterface<const char*> {};

// The caret sits in the middle of the line; the marker goes there, the caret after it, and
// typing can go on in the content box although the user's last click was in the list.
TEST_P(PickedEntryTest, InsertsBracketedEntryAtTheCaretAndFocusesTheContent) {
    const QString entry = QString::fromUtf8(GetParam());
    window_.组合框_即时广播_语速->setFocus();
    ASSERT_FALSE(content()->hasFocus());

    Pick(entry);

    const QString marker = "[" + entry + "]";
    EXPECT_EQ(content()->toPlainText(), "你好" + marker + "世界");
    EXPECT_EQ(content()->textCursor().position(), 2 + marker.size());
    EXPECT_FALSE(content()->textCursor().hasSelection());
    EXPECT_TRUE(content()->hasFocus());
    EXPECT_FALSE(list()->isVisible());
}

// "05秒" stays as written: the digits 0 and 5, no decimal point.
INSTANTIATE_TEST_SUITE_P(Entries, PickedEntryTest, ::testing::Values("05秒", "1秒", "2秒", "3秒"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return "entry" + std::to_string(info.index);
                         });

TEST_F(PauseMarkerTest, ListOpensBelowTheButtonWhileTheListItselfStaysHidden) {
    ASSERT_TRUE(OpenList());

    const QPushButton* button = window_.超级按钮_即时广播_插入停顿;
    const QRect buttonArea(button->mapToGlobal(QPoint(0, 0)), button->size());
    const QRect popupArea = popup()->window()->geometry();
    EXPECT_GE(popupArea.top(), buttonArea.bottom()) << "the button stays uncovered";
    EXPECT_LT(popupArea.top(), buttonArea.bottom() + 20);
    EXPECT_LT(popupArea.left(), buttonArea.right());
    EXPECT_GT(popupArea.right(), buttonArea.left());
    EXPECT_EQ(list()->count(), 4);
    EXPECT_FALSE(list()->isVisible());
    list()->hidePopup();
}

TEST_F(PauseMarkerTest, MarkerReplacesTheSelection) {
    Select(1, 3);  // "好世"

    Pick(QStringLiteral("2秒"));

    EXPECT_EQ(content()->toPlainText(), QStringLiteral("你[2秒]界"));
    EXPECT_EQ(content()->textCursor().position(), 5);
}

// The entry already selected raises the pick again: every pick is one more marker.
TEST_F(PauseMarkerTest, PickingTheSameEntryTwiceInsertsTwoMarkers) {
    Pick(QStringLiteral("1秒"));
    Pick(QStringLiteral("1秒"));

    EXPECT_EQ(content()->toPlainText(), QStringLiteral("你好[1秒][1秒]世界"));
}

TEST_F(PauseMarkerTest, OneUndoRemovesTheMarkerAndNothingTypedBefore) {
    QTest::keyClicks(content(), "ab");
    ASSERT_EQ(content()->toPlainText(), QStringLiteral("你好ab世界"));

    Pick(QStringLiteral("3秒"));
    ASSERT_EQ(content()->toPlainText(), QStringLiteral("你好ab[3秒]世界"));

    content()->undo();
    EXPECT_EQ(content()->toPlainText(), QStringLiteral("你好ab世界"));
    content()->redo();
    EXPECT_EQ(content()->toPlainText(), QStringLiteral("你好ab[3秒]世界"));
}

TEST_F(PauseMarkerTest, ClosingTheListWithoutPickingInsertsNothing) {
    ASSERT_TRUE(OpenList());
    QTest::keyClick(popup(), Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !popup()->isVisible(); }, 2000));

    EXPECT_EQ(content()->toPlainText(), QStringLiteral("你好世界"));
    EXPECT_FALSE(content()->document()->isUndoAvailable());
}

TEST_F(PauseMarkerTest, FocusControlReportsWhereTheFocusWas) {
    window_.超级按钮_即时广播_播放->setFocus();
    ASSERT_TRUE(window_.超级按钮_即时广播_播放->hasFocus());

    EXPECT_EQ(FocusControl(content()), window_.超级按钮_即时广播_播放);
    EXPECT_TRUE(content()->hasFocus());
}

}  // namespace
