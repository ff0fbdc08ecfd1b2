// The main window: every control by name, place and initial state, and the window operations
// the rest of the client relies on. Narrow literals here are GBK, as the operations take them.
#include "window/main_window.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// Failure messages show Qt texts as text.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

struct ControlCase {
    const char16_t* name;
    const char16_t* parent;  // objectName of the parent; empty for the window itself
    QRect geometry;
    QWidget* MainWindow::*member;
};

// Readable test names: the control's name.
std::string NameOf(const char16_t* name) {
    return QString::fromUtf16(name).toStdString();
}

void PrintTo(const ControlCase& c, std::ostream* os) {
    *os << NameOf(c.name);
}

// Member pointers of a derived-to-base type, so one table can hold every kind of control.
template <typename Control>
QWidget* MainWindow::*Member(Control* MainWindow::*member) {
    return reinterpret_cast<QWidget * MainWindow::*>(member);
}

QWidget* Get(MainWindow& window, QWidget* MainWindow::*member) {
    return window.*member;
}

class MainWindowTest : public ::testing::Test {
  protected:
    MainWindow window;
};

class ControlPlacementTest : public ::testing::TestWithParam<ControlCase> {
  protected:
    MainWindow window;
};

TEST_P(ControlPlacementTest, FoundByNameAtItsPlace) {
    const ControlCase& c = GetParam();
    const QString name = QString::fromUtf16(c.name);
    auto* control = window.findChild<QWidget*>(name);
    ASSERT_NE(control, nullptr) << name.toStdString();
    EXPECT_EQ(control, Get(window, c.member)) << name.toStdString();
    EXPECT_EQ(control->geometry(), c.geometry) << name.toStdString();
    const QString parent = QString::fromUtf16(c.parent);
    if (parent.isEmpty()) {
        EXPECT_EQ(control->parentWidget(), &window);
    } else {
        EXPECT_EQ(control->parentWidget()->objectName(), parent);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryControl, ControlPlacementTest,
    ::testing::Values(
        ControlCase{u"编辑框_即时广播_广播内容",
                    u"",
                    {6, 5, 863, 611},
                    Member(&MainWindow::编辑框_即时广播_广播内容)},
        ControlCase{u"外形框9", u"", {8, 624, 864, 62}, Member(&MainWindow::外形框9)},
        ControlCase{u"标签2", u"外形框9", {8, 6, 56, 24}, Member(&MainWindow::标签2)},
        ControlCase{u"组合框_即时广播_声音类型",
                    u"外形框9",
                    {78, 9, 52, 20},
                    Member(&MainWindow::组合框_即时广播_声音类型)},
        ControlCase{u"组合框_即时广播_发音人",
                    u"外形框9",
                    {138, 9, 105, 20},
                    Member(&MainWindow::组合框_即时广播_发音人)},
        ControlCase{u"标签3", u"外形框9", {8, 32, 56, 24}, Member(&MainWindow::标签3)},
        ControlCase{u"组合框_即时广播_背景类型",
                    u"外形框9",
                    {78, 35, 52, 20},
                    Member(&MainWindow::组合框_即时广播_背景类型)},
        ControlCase{u"组合框_即时广播_背景音乐",
                    u"外形框9",
                    {138, 35, 105, 20},
                    Member(&MainWindow::组合框_即时广播_背景音乐)},
        ControlCase{u"标签4", u"外形框9", {260, 8, 28, 24}, Member(&MainWindow::标签4)},
        ControlCase{u"组合框_即时广播_语速",
                    u"外形框9",
                    {297, 10, 56, 20},
                    Member(&MainWindow::组合框_即时广播_语速)},
        ControlCase{u"标签5", u"外形框9", {260, 32, 28, 24}, Member(&MainWindow::标签5)},
        ControlCase{u"组合框_即时广播_背音",
                    u"外形框9",
                    {297, 34, 56, 20},
                    Member(&MainWindow::组合框_即时广播_背音)},
        ControlCase{u"标签7", u"外形框9", {359, 8, 28, 24}, Member(&MainWindow::标签7)},
        ControlCase{u"组合框_即时广播_语调",
                    u"外形框9",
                    {396, 10, 56, 20},
                    Member(&MainWindow::组合框_即时广播_语调)},
        ControlCase{u"标签6", u"外形框9", {359, 32, 28, 24}, Member(&MainWindow::标签6)},
        ControlCase{u"组合框_即时广播_语音",
                    u"外形框9",
                    {396, 34, 56, 20},
                    Member(&MainWindow::组合框_即时广播_语音)},
        ControlCase{u"超级按钮_即时广播_插入停顿",
                    u"外形框9",
                    {466, 10, 48, 44},
                    Member(&MainWindow::超级按钮_即时广播_插入停顿)},
        ControlCase{u"组合框_即时广播_停顿时间",
                    u"外形框9",
                    {465, 37, 50, 20},
                    Member(&MainWindow::组合框_即时广播_停顿时间)},
        ControlCase{u"超级按钮_即时广播_停止",
                    u"外形框9",
                    {753, 11, 48, 44},
                    Member(&MainWindow::超级按钮_即时广播_停止)},
        ControlCase{u"超级按钮_即时广播_播放",
                    u"外形框9",
                    {806, 11, 48, 44},
                    Member(&MainWindow::超级按钮_即时广播_播放)}));

struct ListCase {
    const char16_t* name;
    std::vector<const char16_t*> items;
    int selected;
    std::string shown;  // GBK
};

void PrintTo(const ListCase& c, std::ostream* os) {
    *os << NameOf(c.name);
}

class FixedListTest : public ::testing::TestWithParam<ListCase> {
  protected:
    MainWindow window;
};

TEST_P(FixedListTest, ItemsAndInitialSelection) {
    const ListCase& c = GetParam();
    auto* list = window.findChild<QComboBox*>(QString::fromUtf16(c.name));
    ASSERT_NE(list, nullptr);
    EXPECT_FALSE(list->isEditable());
    QStringList expected;
    for (const char16_t* item : c.items) {
        expected << QString::fromUtf16(item);
    }
    QStringList actual;
    for (int i = 0; i < list->count(); ++i) {
        actual << list->itemText(i);
    }
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(ReadSelectedIndex(list), c.selected);
    EXPECT_EQ(list->currentText(), expected[c.selected]);
    EXPECT_EQ(ReadListText(list), c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    EveryFixedList, FixedListTest,
    ::testing::Values(
        ListCase{
            u"组合框_即时广播_声音类型", {u"推荐", u"中文", u"方言", u"外语", u"特色"}, 0, "推荐"},
        ListCase{u"组合框_即时广播_背景类型",
                 {u"本地", u"喜庆", u"古韵", u"欢乐", u"浪漫", u"童真", u"清新", u"大气", u"柔和",
                  u"伤感"},
                 0,
                 "本地"},
        ListCase{u"组合框_即时广播_语速", {u"很慢", u"慢", u"正常", u"快", u"很快"}, 1, "慢"},
        ListCase{u"组合框_即时广播_背音", {u"很低", u"低", u"正常", u"高", u"很高"}, 0, "很低"},
        ListCase{u"组合框_即时广播_语调", {u"很慢", u"慢", u"正常", u"快", u"很快"}, 2, "正常"},
        ListCase{u"组合框_即时广播_语音", {u"很低", u"低", u"正常", u"高", u"很高"}, 3, "高"},
        ListCase{u"组合框_即时广播_停顿时间", {u"05秒", u"1秒", u"2秒", u"3秒"}, 0, "05秒"}));

struct TextCase {
    const char16_t* name;
    const char16_t* text;
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << NameOf(c.name);
}

class FixedTextTest : public ::testing::TestWithParam<TextCase> {
  protected:
    MainWindow window;
};

TEST_P(FixedTextTest, ShowsItsText) {
    const TextCase& c = GetParam();
    const QString name = QString::fromUtf16(c.name);
    QString text;
    if (auto* label = window.findChild<QLabel*>(name)) {
        text = label->text();
    } else if (auto* button = window.findChild<QPushButton*>(name)) {
        text = button->text();
    } else {
        FAIL() << "no label or button " << name.toStdString();
    }
    EXPECT_EQ(text, QString::fromUtf16(c.text));
}

INSTANTIATE_TEST_SUITE_P(LabelsAndButtons, FixedTextTest,
                         ::testing::Values(TextCase{u"标签2", u"声音类型"},
                                           TextCase{u"标签3", u"背景音乐"},
                                           TextCase{u"标签4", u"语速"}, TextCase{u"标签5", u"背音"},
                                           TextCase{u"标签7", u"语调"}, TextCase{u"标签6", u"语音"},
                                           TextCase{u"超级按钮_即时广播_插入停顿", u"插入\n停顿"},
                                           TextCase{u"超级按钮_即时广播_停止", u"停止"},
                                           TextCase{u"超级按钮_即时广播_播放", u"播放"}));

TEST_F(MainWindowTest, FixedSizeWithMinimizeAndCloseButNoMaximize) {
    EXPECT_EQ(window.minimumSize(), QSize(880, 692));
    EXPECT_EQ(window.maximumSize(), QSize(880, 692));
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    // Every control lies inside the client area.
    for (QWidget* control : window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        EXPECT_TRUE(window.rect().contains(control->geometry()))
            << control->objectName().toStdString();
    }
}

TEST_F(MainWindowTest, OpensCentredWithEmptyCaption) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_TRUE(window.windowTitle().isEmpty());
    const QPoint screenCentre = window.screen()->availableGeometry().center();
    EXPECT_LE((window.geometry().center() - screenCentre).manhattanLength(), 2);
}

TEST_F(MainWindowTest, ContentBoxLooksAsDesigned) {
    QPlainTextEdit* box = window.编辑框_即时广播_广播内容;
    EXPECT_EQ(box->frameShape(), QFrame::NoFrame);
    EXPECT_EQ(box->palette().color(QPalette::Base), QColor(249, 249, 249));
    EXPECT_EQ(box->palette().color(QPalette::Text), QColor(Qt::black));
    EXPECT_EQ(box->font().families(),
              QStringList({u"Microsoft YaHei"_qs, u"微软雅黑"_qs, u"WenQuanYi Micro Hei"_qs}));
    EXPECT_EQ(box->font().pointSize(), 9);
    EXPECT_EQ(box->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_FALSE(box->isReadOnly());
    EXPECT_TRUE(box->toPlainText().isEmpty());
    EXPECT_EQ(window.超级按钮_即时广播_插入停顿->font().families(), box->font().families());
    EXPECT_EQ(window.超级按钮_即时广播_插入停顿->font().pointSize(), 9);
}

TEST_F(MainWindowTest, SpeakerAndTrackListsStartEditableEmptyAndUnselected) {
    for (QComboBox* list : {window.组合框_即时广播_发音人, window.组合框_即时广播_背景音乐}) {
        EXPECT_TRUE(list->isEditable());
        EXPECT_EQ(list->count(), 0);
        EXPECT_EQ(ReadSelectedIndex(list), -1);
        EXPECT_EQ(ReadItemValue(list, ReadSelectedIndex(list)), -1);
        EXPECT_EQ(ReadListText(list), "");
    }
}

TEST_F(MainWindowTest, TypingInTheSpeakerFieldAddsNoItem) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QComboBox* list = window.组合框_即时广播_发音人;
    AddItem(list, "甲", 1);
    QTest::keyClicks(list->lineEdit(), "xyz");
    QTest::keyClick(list->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(list->count(), 1);
}

TEST_F(MainWindowTest, PauseListIsNeverVisibleAndOpensBelowTheButton) {
    QComboBox* pauses = window.组合框_即时广播_停顿时间;
    // The test screen is smaller than the window: bring the panel near its top so that there
    // is room below the button.
    window.move(0, -560);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_FALSE(pauses->isVisible());

    ShowDropDown(pauses);
    QWidget* popup = pauses->view()->window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(popup));
    EXPECT_FALSE(pauses->isVisible());
    QPushButton* button = window.超级按钮_即时广播_插入停顿;
    const QPoint buttonBottomLeft = button->mapToGlobal(QPoint(0, button->height()));
    EXPECT_GE(popup->geometry().top(), buttonBottomLeft.y());
    EXPECT_LE(std::abs(popup->geometry().left() - buttonBottomLeft.x()), 2);
    EXPECT_EQ(pauses->view()->model()->rowCount(), 4);
    pauses->hidePopup();
    EXPECT_FALSE(pauses->isVisible());
}

// The item-selected events: a pick from the opened list, also of the current item, raises the
// event after the selection changed; closing the list without picking raises nothing.
class ItemSelectedTest : public MainWindowTest {
  protected:
    void SetUp() override {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    static void Pick(QComboBox* list, int downs) {
        ShowDropDown(list);
        QAbstractItemView* view = list->view();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view->window()));
        for (int i = 0; i < downs; ++i) {
            QTest::keyClick(view, Qt::Key_Down);
        }
        QTest::keyClick(view, Qt::Key_Return);
    }
};

TEST_F(ItemSelectedTest, PickRaisesTheEventAfterTheSelectionChanged) {
    QComboBox* list = window.组合框_即时广播_声音类型;
    int seenIndex = -2;
    QObject::connect(&window, &MainWindow::voiceTypeSelected,
                     [&] { seenIndex = ReadSelectedIndex(list); });
    Pick(list, 3);
    EXPECT_EQ(seenIndex, 3);
    EXPECT_EQ(ReadListText(list), "外语");
}

TEST_F(ItemSelectedTest, PickingTheCurrentItemRaisesTheEventToo) {
    QSignalSpy background(&window, &MainWindow::backgroundTypeSelected);
    QSignalSpy pause(&window, &MainWindow::pauseTimeSelected);
    Pick(window.组合框_即时广播_背景类型, 0);
    Pick(window.组合框_即时广播_停顿时间, 0);
    Pick(window.组合框_即时广播_停顿时间, 0);
    EXPECT_EQ(background.count(), 1);
    EXPECT_EQ(pause.count(), 2);
}

TEST_F(ItemSelectedTest, ClosingWithoutPickingRaisesNothing) {
    QSignalSpy pause(&window, &MainWindow::pauseTimeSelected);
    QComboBox* list = window.组合框_即时广播_停顿时间;
    ShowDropDown(list);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(list->view()->window()));
    QTest::keyClick(list->view(), Qt::Key_Down);
    QTest::keyClick(list->view(), Qt::Key_Escape);
    EXPECT_EQ(pause.count(), 0);
    EXPECT_EQ(ReadSelectedIndex(list), 0);
}

TEST_F(MainWindowTest, ButtonsRaiseTheirClickEvents) {
    QSignalSpy play(&window, &MainWindow::playClicked);
    QSignalSpy stop(&window, &MainWindow::stopClicked);
    QSignalSpy insertPause(&window, &MainWindow::insertPauseClicked);
    QTest::mouseClick(window.超级按钮_即时广播_播放, Qt::LeftButton);
    QTest::mouseClick(window.超级按钮_即时广播_停止, Qt::LeftButton);
    QTest::mouseClick(window.超级按钮_即时广播_停止, Qt::LeftButton);
    QTest::mouseClick(window.超级按钮_即时广播_插入停顿, Qt::LeftButton);
    EXPECT_EQ(play.count(), 1);
    EXPECT_EQ(stop.count(), 2);
    EXPECT_EQ(insertPause.count(), 1);
}

TEST_F(MainWindowTest, DisabledPlayButtonRaisesNothing) {
    QSignalSpy play(&window, &MainWindow::playClicked);
    EnableControl(window.超级按钮_即时广播_播放, false);
    QTest::mouseClick(window.超级按钮_即时广播_播放, Qt::LeftButton);
    EXPECT_FALSE(window.超级按钮_即时广播_播放->isEnabled());
    EnableControl(window.超级按钮_即时广播_播放, true);
    QTest::mouseClick(window.超级按钮_即时广播_播放, Qt::LeftButton);
    EXPECT_EQ(play.count(), 1);
}

TEST_F(MainWindowTest, StatusCaptionTakesGbkText) {
    SetStatusCaption(window, "正在合成语音，请稍候...");
    EXPECT_EQ(window.windowTitle(), u"正在合成语音，请稍候..."_qs);
    SetStatusCaption(window, "语音合成完毕");
    EXPECT_EQ(window.windowTitle(), u"语音合成完毕"_qs);
}

TEST_F(MainWindowTest, ContentIsGbkWithCrLfLineBreaks) {
    window.编辑框_即时广播_广播内容->setPlainText(u"第一行\n第二行 ab\n\n€末"_qs);
    EXPECT_EQ(ReadContent(window), "第一行\r\n第二行 ab\r\n\r\n\x80末");
}

TEST_F(MainWindowTest, ContentTypedWithEnterReadsCrLf) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QPlainTextEdit* box = window.编辑框_即时广播_广播内容;
    QTest::keyClicks(box, "ab");
    QTest::keyClick(box, Qt::Key_Return);
    QTest::keyClicks(box, "c");
    EXPECT_EQ(ReadContent(window), "ab\r\nc");
}

TEST_F(MainWindowTest, ItemsCarryTheirValues) {
    QComboBox* list = window.组合框_即时广播_发音人;
    AddItem(list, "小美", 101);
    AddItem(list, "小美", -7);
    AddItem(list, "大", INT32_MAX);
    EXPECT_EQ(list->count(), 3);
    EXPECT_EQ(list->itemText(0), u"小美"_qs);
    EXPECT_EQ(ReadItemValue(list, 0), 101);
    EXPECT_EQ(ReadItemValue(list, 1), -7);
    EXPECT_EQ(ReadItemValue(list, 2), INT32_MAX);
    EXPECT_EQ(ReadItemValue(list, 3), -1);
    EXPECT_EQ(ReadItemValue(list, -1), -1);
    // Adding never selects: the list still has no selection.
    EXPECT_EQ(ReadSelectedIndex(list), -1);
    EXPECT_EQ(ReadListText(list), "");

    RemoveAllItems(list);
    EXPECT_EQ(list->count(), 0);
    EXPECT_EQ(ReadSelectedIndex(list), -1);
    EXPECT_EQ(ReadItemValue(list, 0), -1);
}

struct SelectCase {
    int items;
    int index;
    int selected;
};

void PrintTo(const SelectCase& c, std::ostream* os) {
    *os << c.items << " items, select " << c.index;
}

class SelectItemTest : public ::testing::TestWithParam<SelectCase> {
  protected:
    MainWindow window;
};

TEST_P(SelectItemTest, ClampsPastTheEndAndClearsBelowZero) {
    const SelectCase& c = GetParam();
    QComboBox* list = window.组合框_即时广播_背景音乐;
    for (int i = 0; i < c.items; ++i) {
        AddItem(list, "曲" + std::to_string(i), i * 10);
    }
    SelectItem(list, 1);
    SelectItem(list, c.index);
    EXPECT_EQ(ReadSelectedIndex(list), c.selected);
    EXPECT_EQ(ReadItemValue(list, ReadSelectedIndex(list)), c.selected < 0 ? -1 : c.selected * 10);
    EXPECT_EQ(ReadListText(list),
              c.selected < 0 ? std::string() : "曲" + std::to_string(c.selected));
    EXPECT_EQ(list->currentText(), c.selected < 0 ? QString() : list->itemText(c.selected));
}

INSTANTIATE_TEST_SUITE_P(Indexes, SelectItemTest,
                         ::testing::Values(SelectCase{3, 0, 0}, SelectCase{3, 2, 2},
                                           SelectCase{3, 3, 2}, SelectCase{3, 99, 2},
                                           SelectCase{3, -1, -1}, SelectCase{3, -5, -1},
                                           SelectCase{0, 0, -1}, SelectCase{0, 4, -1}));

TEST_F(MainWindowTest, ReplacingTheSelectionIsOneUndoableEdit) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QPlainTextEdit* box = window.编辑框_即时广播_广播内容;
    box->setFocus();
    QTest::keyClicks(box, "abcdef");
    QTextCursor cursor = box->textCursor();
    cursor.setPosition(1);
    cursor.setPosition(3, QTextCursor::KeepAnchor);
    box->setTextCursor(cursor);

    ReplaceContentSelection(window, "[1秒]");
    EXPECT_EQ(box->toPlainText(), u"a[1秒]def"_qs);
    EXPECT_EQ(box->textCursor().position(), 5);
    ReplaceContentSelection(window, "[2秒]");
    EXPECT_EQ(box->toPlainText(), u"a[1秒][2秒]def"_qs);

    box->undo();
    EXPECT_EQ(box->toPlainText(), u"a[1秒]def"_qs);
    box->undo();
    EXPECT_EQ(box->toPlainText(), u"abcdef"_qs);
}

// The file dialog itself, answered by a timer as a user would answer it.
class FileSaveDialogTest : public MainWindowTest {
  protected:
    // Runs action on the dialog once it is showing, then returns what Show returned.
    bool ShowAndAnswer(const std::function<void(QFileDialog*)>& action) {
        QTimer::singleShot(0, [action] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            action(dialog);
        });
        return window.通用对话框1->Show();
    }

    QTemporaryDir folder;
};

TEST_F(FileSaveDialogTest, SavesWithMp3SuffixAndStartsFromTheLastChoice) {
    ASSERT_TRUE(folder.isValid());
    window.通用对话框1->SetFilter("声音文件（*.mp3）|*.mp3|所有文件|*.*");
    const QString expected = folder.filePath(u"广播"_qs);
    QStringList filters;
    QStringList shownFilters;
    QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
    ASSERT_TRUE(ShowAndAnswer([&](QFileDialog* dialog) {
        filters = dialog->nameFilters();
        const auto* shown = dialog->findChild<QComboBox*>(u"fileTypeCombo"_qs);
        for (int i = 0; shown != nullptr && i < shown->count(); ++i) {
            shownFilters << shown->itemText(i);
        }
        mode = dialog->acceptMode();
        dialog->selectFile(expected);
        static_cast<QDialog*>(dialog)->accept();
    }));
    EXPECT_EQ(mode, QFileDialog::AcceptSave);
    EXPECT_EQ(filters, QStringList({u"声音文件（*.mp3） (*.mp3)"_qs, u"所有文件 (*.*)"_qs}));
    // The user sees each description once, without Qt's repetition of the patterns.
    EXPECT_EQ(shownFilters, QStringList({u"声音文件（*.mp3）"_qs, u"所有文件"_qs}));
    EXPECT_EQ(window.通用对话框1->FileName(),
              QFile::encodeName(expected + u".mp3"_qs).toStdString());

    QStringList startsWith;
    EXPECT_FALSE(ShowAndAnswer([&](QFileDialog* dialog) {
        startsWith = dialog->selectedFiles();
        dialog->reject();
    }));
    EXPECT_EQ(startsWith, QStringList({expected + u".mp3"_qs}));
    EXPECT_EQ(window.通用对话框1->ChosenFolder(), QFile::encodeName(folder.path()).toStdString());
}

TEST_F(FileSaveDialogTest, StartsInTheStartFolderUntilANameIsConfirmed) {
    ASSERT_TRUE(folder.isValid());
    window.通用对话框1->SetStartFolder(QFile::encodeName(folder.path()).toStdString());
    QString startsIn;
    EXPECT_FALSE(ShowAndAnswer([&](QFileDialog* dialog) {
        startsIn = dialog->directory().absolutePath();
        dialog->reject();
    }));
    EXPECT_EQ(startsIn, QDir(folder.path()).absolutePath());
    EXPECT_EQ(window.通用对话框1->ChosenFolder(), "");
}

// A name typed into a folder that does not exist: the dialog says so and stays open, as the
// window's file dialog must; a name in an existing subfolder is taken.
TEST_F(FileSaveDialogTest, RefusesANameInAMissingFolderWithoutClosing) {
    ASSERT_TRUE(folder.isValid());
    ASSERT_TRUE(QDir(folder.path()).mkdir(u"有"_qs));
    window.通用对话框1->SetFilter("声音文件（*.mp3）|*.mp3");
    window.通用对话框1->SetStartFolder(QFile::encodeName(folder.path()).toStdString());
    QString message;
    bool openAfterRefusal = false;
    ASSERT_TRUE(ShowAndAnswer([&](QFileDialog* dialog) {
        dialog->findChild<QLineEdit*>(u"fileNameEdit"_qs)->setText(u"没有/广播"_qs);
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            message = box->text();
            box->done(QMessageBox::Ok);
        });
        QPushButton* save = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save);
        save->click();
        openAfterRefusal = dialog->isVisible();
        dialog->findChild<QLineEdit*>(u"fileNameEdit"_qs)->setText(u"有/广播"_qs);
        save->click();
    }));
    EXPECT_TRUE(openAfterRefusal);
    EXPECT_TRUE(message.contains(QDir::toNativeSeparators(folder.filePath(u"没有"_qs))))
        << message.toStdString();
    EXPECT_TRUE(message.contains(u"不存在"_qs)) << message.toStdString();
    EXPECT_FALSE(QFileInfo::exists(folder.filePath(u"没有"_qs)));
    EXPECT_EQ(window.通用对话框1->FileName(),
              QFile::encodeName(folder.filePath(u"有/广播.mp3"_qs)).toStdString());
}

}  // namespace
