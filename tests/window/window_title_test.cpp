// The caption as the window manager reads it, on an X server of the test's own: empty until the
// first caption, never the program's name in its place. (On the offscreen platform there is no
// window manager's view to read.) Narrow literals here are GBK, as SetStatusCaption takes them.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QElapsedTimer>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "window/main_window.h"

#include <gtest/gtest.h>

namespace {

// Xvfb on a display number it picks itself; it names the number once it accepts clients.
class VirtualDisplay {
  public:
    VirtualDisplay() {
        int ready[2];
        if (::pipe(ready) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            const std::string fd = std::to_string(ready[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0",
                     "1024x768x24", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(ready[1]);
        char c = 0;
        while (pid_ > 0 && ::read(ready[0], &c, 1) == 1 && c != '\n') {
            number_ += c;
        }
        ::close(ready[0]);
    }
    ~VirtualDisplay() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // ":N", or empty when Xvfb could not be started.
    std::string Name() const { return number_.empty() ? std::string() : ":" + number_; }

  private:
    pid_t pid_ = -1;
    std::string number_;
};

struct XcbDisconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};

// The property's bytes as another client sees them; nullopt when it is not set at all.
std::optional<std::string> ReadProperty(xcb_connection_t* connection, xcb_window_t window,
                                        const char* name) {
    const std::unique_ptr<xcb_intern_atom_reply_t, FreeReply> atom(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
        nullptr));
    const std::unique_ptr<xcb_get_property_reply_t, FreeReply> reply(xcb_get_property_reply(
        connection,
        xcb_get_property(connection, 0, window, atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096),
        nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE) {
        return std::nullopt;
    }
    const auto* bytes = static_cast<const char*>(xcb_get_property_value(reply.get()));
    return std::string(bytes, static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
}

class WindowTitleTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        display_ = std::make_unique<VirtualDisplay>();
        if (display_->Name().empty()) {
            return;
        }
        ::setenv("DISPLAY", display_->Name().c_str(), 1);
        static int argc = 3;
        static char name[] = "dubdesk";
        static char platformOption[] = "-platform";
        static char platform[] = "xcb";
        static char* argv[] = {name, platformOption, platform, nullptr};
        application_ = std::make_unique<QApplication>(argc, argv);
    }
    static void TearDownTestSuite() {
        application_.reset();
        display_.reset();
    }

    void SetUp() override {
        ASSERT_NE(application_, nullptr) << "Xvfb could not be started";
        connection_.reset(xcb_connect(display_->Name().c_str(), nullptr));
        ASSERT_EQ(xcb_connection_has_error(connection_.get()), 0);
    }

    // Waits (up to two seconds, the window's events flowing) until the window's property holds
    // the expected bytes; returns what it holds last.
    std::optional<std::string> WaitForProperty(const MainWindow& window, const char* name,
                                               const std::string& expected) {
        QElapsedTimer elapsed;
        elapsed.start();
        std::optional<std::string> value;
        do {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            value =
                ReadProperty(connection_.get(), static_cast<xcb_window_t>(window.winId()), name);
        } while (value != expected && elapsed.elapsed() < 2000);
        return value;
    }

    static inline std::unique_ptr<VirtualDisplay> display_;
    static inline std::unique_ptr<QApplication> application_;
    std::unique_ptr<xcb_connection_t, XcbDisconnect> connection_;
};

TEST_F(WindowTitleTest, EmptyUntilTheFirstCaptionNeverTheProgramName) {
    MainWindow window;
    window.show();
    EXPECT_EQ(WaitForProperty(window, "_NET_WM_NAME", ""), "");
    EXPECT_EQ(WaitForProperty(window, "WM_NAME", ""), "");

    SetStatusCaption(window, "正在合成语音，请稍候...");
    EXPECT_EQ(WaitForProperty(window, "_NET_WM_NAME",
                              reinterpret_cast<const char*>(u8"正在合成语音，请稍候...")),
              reinterpret_cast<const char*>(u8"正在合成语音，请稍候..."));

    // Set empty again, it is empty again, not the program's name.
    SetStatusCaption(window, "");
    EXPECT_EQ(WaitForProperty(window, "_NET_WM_NAME", ""), "");
}

}  // namespace
