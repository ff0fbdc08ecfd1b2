#include "window/pause_markers.h"

#include <QApplication>
#include <QPlainTextEdit>

#include "window/main_window.h"

void ConnectPauseMarkers(MainWindow& window) {
    QObject::connect(&window, &MainWindow::insertPauseClicked, &window,
                     [&window] { OnInsertPauseClicked(window); });
    QObject::connect(&window, &MainWindow::pauseTimeSelected, &window,
                     [&window] { OnPauseTimeSelected(window); });
}

void OnInsertPauseClicked(MainWindow& window) {
    ShowDropDown(window.组合框_即时广播_停顿时间);
}

void OnPauseTimeSelected(MainWindow& window) {
    InsertAtCaret(window, "[" + ReadListText(window.组合框_即时广播_停顿时间) + "]");
}

void InsertAtCaret(MainWindow& window, const std::string& text) {
    // The user's last click went to the list, which is gone now: typing goes on in the content.
    FocusControl(window.编辑框_即时广播_广播内容);
    ReplaceContentSelection(window, text);
}

QWidget* FocusControl(QWidget* control) {
    QWidget* previous = QApplication::focusWidget();
    control->setFocus(Qt::OtherFocusReason);
    return previous;
}
