#include "window/main_window.h"

#include <xcb/xcb.h>

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTextCursor>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <span>

#include "text/code_page.h"
#include "window/list_items.h"

namespace {

QString FromAnsi(const std::string& text) {
    return QString::fromStdString(AnsiTextToUtf8(text));
}

std::string ToAnsi(const QString& text) {
    return Utf8TextToAnsi(text.toStdString());
}

// A flat rectangle with an outline; it only paints.
class FlatPanel : public QWidget {
  public:
    using QWidget::QWidget;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(247, 247, 247));
        painter.setPen(QColor(192, 192, 192));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
};

// Opens a list's drop-down under the list, not over its current item as some styles do.
class DropBelowStyle : public QProxyStyle {
  public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_ComboBox_Popup) {
            return 0;
        }
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// Qt's name filters read "description (patterns)"; the description is kept as given and the
// patterns are appended in that form (";" separates patterns in the pipe form, " " in Qt's).
QStringList NameFilters(const QString& pipeFilter) {
    const QStringList parts = pipeFilter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(u';', u' ');
        filters << parts[i] + QStringLiteral(" (") + patterns + u')';
    }
    return filters;
}

// A file dialog that refuses a name in a folder that does not exist: the user stays in the
// dialog with a message instead of starting a job whose file cannot be written.
class ExistingFolderFileDialog : public QFileDialog {
  public:
    using QFileDialog::QFileDialog;

    void accept() override {
        const QStringList files = selectedFiles();
        if (!files.isEmpty()) {
            const QFileInfo chosen(files.first());
            if (!chosen.isDir() && !chosen.absoluteDir().exists()) {
                QMessageBox::warning(
                    this, windowTitle(),
                    QStringLiteral("%1\n文件夹不存在。\n请检查文件夹名称是否正确。")
                        .arg(QDir::toNativeSeparators(chosen.absolutePath())));
                return;
            }
        }
        QFileDialog::accept();
    }
};

QString FromFileSystem(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

class FileSaveDialog : public SaveDialog {
  public:
    explicit FileSaveDialog(QWidget* parent) : parent_(parent) {}

    void SetFilter(const std::string& filter) override { filters_ = NameFilters(FromAnsi(filter)); }

    void SetStartFolder(const std::string& folder) override {
        startFolder_ = FromFileSystem(folder);
    }

    std::string ChosenFolder() const override {
        return chosen_.isEmpty()
                   ? std::string()
                   : QFile::encodeName(QFileInfo(chosen_).absolutePath()).toStdString();
    }

    bool Show() override {
        // Made on first use: a file dialog watches folders as soon as it exists.
        if (dialog_ == nullptr) {
            dialog_ = new ExistingFolderFileDialog(parent_);
            dialog_->setOption(QFileDialog::DontUseNativeDialog);
            // The filter list shows each description alone, as the pipe form gives it; Qt
            // would repeat the patterns after it.
            dialog_->setOption(QFileDialog::HideNameFilterDetails);
            dialog_->setAcceptMode(QFileDialog::AcceptSave);
            dialog_->setFileMode(QFileDialog::AnyFile);
            dialog_->setDefaultSuffix(QStringLiteral("mp3"));
        }
        dialog_->setNameFilters(filters_);
        if (!filters_.isEmpty()) {
            dialog_->selectNameFilter(filters_.first());
        }
        if (!chosen_.isEmpty()) {
            dialog_->selectFile(chosen_);
        } else if (!startFolder_.isEmpty()) {
            dialog_->setDirectory(startFolder_);
        }
        if (dialog_->exec() != QDialog::Accepted || dialog_->selectedFiles().isEmpty()) {
            return false;
        }
        chosen_ = dialog_->selectedFiles().first();
        return true;
    }

    std::string FileName() const override { return QFile::encodeName(chosen_).toStdString(); }

  private:
    QWidget* parent_;
    QFileDialog* dialog_ = nullptr;  // owned by parent_
    QStringList filters_;
    QString startFolder_;
    QString chosen_;
};

struct FreeDeleter {
    void operator()(void* reply) const { std::free(reply); }
};

xcb_atom_t InternAtom(xcb_connection_t* connection, const char* name) {
    const std::unique_ptr<xcb_intern_atom_reply_t, FreeDeleter> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
        nullptr));
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

// Qt never hands the window system an empty title: it puts the application name in its place.
// On X11 both name properties are emptied again after Qt has written them; other window
// systems keep Qt's choice.
void ClearWindowSystemTitle(QWidget& window) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb") ||
        !window.testAttribute(Qt::WA_WState_Created)) {
        return;
    }
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
    if (connection == nullptr) {
        return;
    }
    const auto id = static_cast<xcb_window_t>(window.winId());
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        0, nullptr);
    const xcb_atom_t netWmName = InternAtom(connection, "_NET_WM_NAME");
    const xcb_atom_t utf8String = InternAtom(connection, "UTF8_STRING");
    if (netWmName != XCB_ATOM_NONE && utf8String != XCB_ATOM_NONE) {
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, netWmName, utf8String, 8, 0,
                            nullptr);
    }
    xcb_flush(connection);
}

template <typename Control>
Control* Place(QWidget* parent, const QString& name, int left, int top, int width, int height) {
    auto* control = new Control(parent);
    control->setObjectName(name);
    control->setGeometry(left, top, width, height);
    return control;
}

QLabel* PlaceLabel(QWidget* parent, const QString& name, int left, int top, int width, int height,
                   const QString& text) {
    auto* label = Place<QLabel>(parent, name, left, top, width, height);
    label->setText(text);
    return label;
}

QStringList ListOf(std::span<const char8_t* const> items) {
    QStringList list;
    for (const char8_t* item : items) {
        list.append(QString::fromUtf8(item));
    }
    return list;
}

QComboBox* PlaceList(QWidget* parent, const QString& name, int left, int top, int width, int height,
                     const QStringList& items, int selected) {
    auto* list = Place<QComboBox>(parent, name, left, top, width, height);
    list->addItems(items);
    list->setCurrentIndex(selected);
    return list;
}

// A drop-down with an edit field: typing never adds items, and it starts with nothing selected.
QComboBox* PlaceEditableList(QWidget* parent, const QString& name, int left, int top, int width,
                             int height) {
    auto* list = Place<QComboBox>(parent, name, left, top, width, height);
    list->setEditable(true);
    list->setInsertPolicy(QComboBox::NoInsert);
    return list;
}

QPushButton* PlaceButton(QWidget* parent, const QString& name, int left, int top, int width,
                         int height, const QString& text) {
    auto* button = Place<QPushButton>(parent, name, left, top, width, height);
    button->setText(text);
    return button;
}

// Hears the selected entry of a list without a synthesis job: a "试听" entry at the top of the
// list's context menu (above the edit field's own entries) and a key that works while the list
// has focus. The list's tooltip says both.
void AddAuditionEntry(QComboBox* list, const QString& what, MainWindow* window,
                      void (MainWindow::*requested)()) {
    auto* audition = new QAction(QStringLiteral("试听"), list);
    audition->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    audition->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    list->addAction(audition);
    QObject::connect(audition, &QAction::triggered, window, requested);
    list->setToolTip(QStringLiteral("右键菜单“试听”或按 %1：试听%2")
                         .arg(audition->shortcut().toString(QKeySequence::NativeText), what));

    const auto showMenu = [audition](QWidget* owner, std::unique_ptr<QMenu> menu,
                                     const QPoint& at) {
        QAction* first = menu->actions().value(0);
        menu->insertAction(first, audition);
        if (first != nullptr) {
            menu->insertSeparator(first);
        }
        menu->exec(owner->mapToGlobal(at));
    };
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(
        list, &QWidget::customContextMenuRequested, list,
        [list, showMenu](const QPoint& at) { showMenu(list, std::make_unique<QMenu>(), at); });
    QLineEdit* edit = list->lineEdit();
    edit->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(
        edit, &QWidget::customContextMenuRequested, edit, [edit, showMenu](const QPoint& at) {
            showMenu(edit, std::unique_ptr<QMenu>(edit->createStandardContextMenu()), at);
        });
}

QFont ContentFont() {
    QFont font;
    font.setFamilies({QStringLiteral("Microsoft YaHei"), QStringLiteral("微软雅黑"),
                      QStringLiteral("WenQuanYi Micro Hei")});
    font.setPointSize(9);
    font.setWeight(QFont::Normal);
    return font;
}

}  // namespace

MainWindow::MainWindow() {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(880, 692);
    setWindowTitle(QString());

    编辑框_即时广播_广播内容 =
        Place<QPlainTextEdit>(this, QStringLiteral("编辑框_即时广播_广播内容"), 6, 5, 863, 611);
    {
        QPlainTextEdit* box = 编辑框_即时广播_广播内容;
        box->setFrameShape(QFrame::NoFrame);
        box->setFont(ContentFont());
        box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        QPalette palette = box->palette();
        palette.setColor(QPalette::Base, QColor(249, 249, 249));
        palette.setColor(QPalette::Text, Qt::black);
        // The selection is not shown while the box has no focus.
        palette.setColor(QPalette::Inactive, QPalette::Highlight, QColor(249, 249, 249));
        palette.setColor(QPalette::Inactive, QPalette::HighlightedText, Qt::black);
        box->setPalette(palette);
    }

    QWidget* panel = 外形框9 = Place<FlatPanel>(this, QStringLiteral("外形框9"), 8, 624, 864, 62);

    标签2 = PlaceLabel(panel, QStringLiteral("标签2"), 8, 6, 56, 24, QStringLiteral("声音类型"));
    组合框_即时广播_声音类型 = PlaceList(panel, QStringLiteral("组合框_即时广播_声音类型"), 78, 9,
                                         52, 20, ListOf(kVoiceTypeItems), 0);
    组合框_即时广播_发音人 =
        PlaceEditableList(panel, QStringLiteral("组合框_即时广播_发音人"), 138, 9, 105, 20);
    标签3 = PlaceLabel(panel, QStringLiteral("标签3"), 8, 32, 56, 24, QStringLiteral("背景音乐"));
    组合框_即时广播_背景类型 = PlaceList(panel, QStringLiteral("组合框_即时广播_背景类型"), 78, 35,
                                         52, 20, ListOf(kBackgroundTypeItems), 0);
    组合框_即时广播_背景音乐 =
        PlaceEditableList(panel, QStringLiteral("组合框_即时广播_背景音乐"), 138, 35, 105, 20);

    const QStringList speeds = ListOf(kSpeedItems);
    const QStringList volumes = ListOf(kVolumeItems);
    标签4 = PlaceLabel(panel, QStringLiteral("标签4"), 260, 8, 28, 24, QStringLiteral("语速"));
    组合框_即时广播_语速 =
        PlaceList(panel, QStringLiteral("组合框_即时广播_语速"), 297, 10, 56, 20, speeds, 1);
    标签5 = PlaceLabel(panel, QStringLiteral("标签5"), 260, 32, 28, 24, QStringLiteral("背音"));
    组合框_即时广播_背音 =
        PlaceList(panel, QStringLiteral("组合框_即时广播_背音"), 297, 34, 56, 20, volumes, 0);
    标签7 = PlaceLabel(panel, QStringLiteral("标签7"), 359, 8, 28, 24, QStringLiteral("语调"));
    组合框_即时广播_语调 =
        PlaceList(panel, QStringLiteral("组合框_即时广播_语调"), 396, 10, 56, 20, speeds, 2);
    标签6 = PlaceLabel(panel, QStringLiteral("标签6"), 359, 32, 28, 24, QStringLiteral("语音"));
    组合框_即时广播_语音 =
        PlaceList(panel, QStringLiteral("组合框_即时广播_语音"), 396, 34, 56, 20, volumes, 3);

    超级按钮_即时广播_插入停顿 = PlaceButton(panel, QStringLiteral("超级按钮_即时广播_插入停顿"),
                                             466, 10, 48, 44, QStringLiteral("插入\n停顿"));
    超级按钮_即时广播_插入停顿->setFont(ContentFont());
    // Placed just under the button so that its opened list appears below the button.
    组合框_即时广播_停顿时间 =
        PlaceList(panel, QStringLiteral("组合框_即时广播_停顿时间"), 465, 37, 50, 20,
                  {QStringLiteral("05秒"), QStringLiteral("1秒"), QStringLiteral("2秒"),
                   QStringLiteral("3秒")},
                  0);
    组合框_即时广播_停顿时间->setVisible(false);
    auto* dropBelow = new DropBelowStyle;
    dropBelow->setParent(组合框_即时广播_停顿时间);
    组合框_即时广播_停顿时间->setStyle(dropBelow);

    超级按钮_即时广播_停止 = PlaceButton(panel, QStringLiteral("超级按钮_即时广播_停止"), 753, 11,
                                         48, 44, QStringLiteral("停止"));
    超级按钮_即时广播_播放 = PlaceButton(panel, QStringLiteral("超级按钮_即时广播_播放"), 806, 11,
                                         48, 44, QStringLiteral("播放"));

    通用对话框1 = std::make_unique<FileSaveDialog>(this);

    connect(超级按钮_即时广播_播放, &QPushButton::clicked, this, &MainWindow::playClicked);
    connect(超级按钮_即时广播_停止, &QPushButton::clicked, this, &MainWindow::stopClicked);
    connect(超级按钮_即时广播_插入停顿, &QPushButton::clicked, this,
            &MainWindow::insertPauseClicked);
    connect(组合框_即时广播_停顿时间, &QComboBox::activated, this, &MainWindow::pauseTimeSelected);
    connect(组合框_即时广播_声音类型, &QComboBox::activated, this, &MainWindow::voiceTypeSelected);
    connect(组合框_即时广播_背景类型, &QComboBox::activated, this,
            &MainWindow::backgroundTypeSelected);
    AddAuditionEntry(组合框_即时广播_发音人, QStringLiteral("所选发音人的声音"), this,
                     &MainWindow::speakerAuditionRequested);
    AddAuditionEntry(组合框_即时广播_背景音乐, QStringLiteral("所选背景音乐"), this,
                     &MainWindow::trackAuditionRequested);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                        screen->availableGeometry()));
    }
}

MainWindow::~MainWindow() = default;

bool MainWindow::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    // Qt writes the title when the native window is made and whenever the caption changes.
    const QEvent::Type type = event->type();
    if ((type == QEvent::WinIdChange || type == QEvent::WindowTitleChange ||
         type == QEvent::Show) &&
        windowTitle().isEmpty()) {
        ClearWindowSystemTitle(*this);
    }
    return handled;
}

void SetStatusCaption(MainWindow& window, const std::string& text) {
    window.setWindowTitle(FromAnsi(text));
}

std::string ReadContent(const MainWindow& window) {
    QString text = window.编辑框_即时广播_广播内容->toPlainText();
    text.replace(u'\n', QStringLiteral("\r\n"));
    return ToAnsi(text);
}

std::string ReadListText(const QComboBox* list) {
    const int index = list->currentIndex();
    return index < 0 ? std::string() : ToAnsi(list->itemText(index));
}

int ReadSelectedIndex(const QComboBox* list) {
    return list->currentIndex();
}

int32_t ReadItemValue(const QComboBox* list, int index) {
    if (index < 0 || index >= list->count()) {
        return -1;
    }
    return list->itemData(index).toInt();
}

void RemoveAllItems(QComboBox* list) {
    list->clear();
}

void AddItem(QComboBox* list, const std::string& text, int32_t value) {
    const int selected = list->currentIndex();
    list->addItem(FromAnsi(text), QVariant(value));
    // A combo box selects the first item added to an empty list; adding must not select.
    if (selected < 0) {
        list->setCurrentIndex(-1);
    }
}

void SelectItem(QComboBox* list, int index) {
    if (index < 0 || list->count() == 0) {
        list->setCurrentIndex(-1);
        return;
    }
    list->setCurrentIndex(std::min(index, list->count() - 1));
}

void EnableControl(QWidget* control, bool enabled) {
    control->setEnabled(enabled);
}

void ShowDropDown(QComboBox* list) {
    list->showPopup();
}

void ReplaceContentSelection(MainWindow& window, const std::string& text) {
    QTextCursor cursor = window.编辑框_即时广播_广播内容->textCursor();
    // An edit block of its own, so that undo never merges it with the typing around it.
    cursor.beginEditBlock();
    cursor.insertText(FromAnsi(text));
    cursor.endEditBlock();
    window.编辑框_即时广播_广播内容->setTextCursor(cursor);
}
