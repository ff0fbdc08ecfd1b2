#pragma once
// The main window: every control under its own Chinese name (member name and objectName), and
// the operations through which the rest of the client reads and changes the controls. Texts
// cross this boundary in code page 936 (GBK); the window converts them to and from QString.
// Everything here runs on the window's thread.

#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// The save dialog seam. The real one is a Qt file dialog; tests put in one that answers at once.
class SaveDialog {
  public:
    virtual ~SaveDialog() = default;
    // Pairs of description and pattern, all separated by "|" (GBK), e.g.
    // "声音文件（*.mp3）|*.mp3"; the first pair is the filter chosen at first.
    virtual void SetFilter(const std::string& filter) = 0;
    // Shows the dialog modally; true when the user confirmed a file name, false on cancel.
    virtual bool Show() = 0;
    // The confirmed full path in the file system's encoding, as the dialog returned it. The
    // next Show starts from it.
    virtual std::string FileName() const = 0;
    // The folder (file-system encoding) Show starts in until a name has been confirmed. A
    // dialog that keeps no folders, such as a test's pre-answered one, ignores it.
    virtual void SetStartFolder(const std::string&) {}
    // The folder of the last confirmed name; empty before one.
    virtual std::string ChosenFolder() const { return {}; }
};

class MainWindow : public QWidget {
    Q_OBJECT

  public:
    // Creates the window with every control in its initial state, centred, not yet shown.
    MainWindow();
    ~MainWindow() override;

    // Client area: the content box and the panel.
    QPlainTextEdit* 编辑框_即时广播_广播内容 = nullptr;  // the text to be spoken
    QWidget* 外形框9 = nullptr;                          // the flat panel holding the settings

    // Children of the panel.
    QLabel* 标签2 = nullptr;                        // "声音类型", before the voice lists
    QComboBox* 组合框_即时广播_声音类型 = nullptr;  // voice type (speaker category)
    QComboBox* 组合框_即时广播_发音人 = nullptr;    // speaker
    QLabel* 标签3 = nullptr;                        // "背景音乐", before the background lists
    QComboBox* 组合框_即时广播_背景类型 = nullptr;  // background-music type (track list)
    QComboBox* 组合框_即时广播_背景音乐 = nullptr;  // background track
    QLabel* 标签4 = nullptr;                        // label of the speed list
    QComboBox* 组合框_即时广播_语速 = nullptr;      // speed
    QLabel* 标签5 = nullptr;                        // label of the background-volume list
    QComboBox* 组合框_即时广播_背音 = nullptr;      // background volume
    QLabel* 标签7 = nullptr;                        // label of the pitch list
    QComboBox* 组合框_即时广播_语调 = nullptr;      // pitch
    QLabel* 标签6 = nullptr;                        // label of the voice-volume list
    QComboBox* 组合框_即时广播_语音 = nullptr;      // voice volume
    QPushButton* 超级按钮_即时广播_插入停顿 = nullptr;  // insert a pause marker
    // Pause length: never visible, only its list opens.
    QComboBox* 组合框_即时广播_停顿时间 = nullptr;
    QPushButton* 超级按钮_即时广播_停止 = nullptr;  // Stop
    QPushButton* 超级按钮_即时广播_播放 = nullptr;  // Play

    // The save dialog of the Play command: a file dialog; tests put their own in its place.
    std::unique_ptr<SaveDialog> 通用对话框1;

  protected:
    bool event(QEvent* event) override;

  signals:
    void playClicked();
    void stopClicked();
    void insertPauseClicked();
    // Item selected: the user picked an entry from the opened list (also the current one),
    // after the selection changed. Closing the list without picking raises nothing.
    void pauseTimeSelected();
    void voiceTypeSelected();
    void backgroundTypeSelected();
    // "试听" chosen from a list's context menu, or its key pressed while the list has focus.
    void speakerAuditionRequested();
    void trackAuditionRequested();
};

// The window caption becomes the text (GBK). An empty text leaves the window manager's title
// empty too, not filled in with the program's name.
void SetStatusCaption(MainWindow& window, const std::string& text);

// The whole content box text in GBK, line breaks as CR LF.
std::string ReadContent(const MainWindow& window);

// The text of the selected item in GBK; empty when nothing is selected.
std::string ReadListText(const QComboBox* list);
// Index of the selected item counted from 0; -1 when nothing is selected.
int ReadSelectedIndex(const QComboBox* list);
// The integer value of the item at index; -1 when index is below 0 or past the last item.
int32_t ReadItemValue(const QComboBox* list, int index);
void RemoveAllItems(QComboBox* list);
// Appends an item with a GBK text and an integer value.
void AddItem(QComboBox* list, const std::string& text, int32_t value);
// An index past the last item selects the last; -1 or below, or an empty list, selects nothing.
void SelectItem(QComboBox* list, int index);

void EnableControl(QWidget* control, bool enabled);

// Opens the list's drop-down (also for a list that is never shown itself).
void ShowDropDown(QComboBox* list);

// Replaces the selection of the content box with the GBK text, or inserts it at the caret when
// nothing is selected, as one undoable edit; the caret ends after the inserted text.
void ReplaceContentSelection(MainWindow& window, const std::string& text);
