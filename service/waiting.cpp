#include "service/waiting.h"

#include <thread>  // <chrono> itself does not compile with the GBK execution charset
#include <utility>

namespace {

thread_local std::function<void(int)> installedWait;

}  // namespace

void WaitWithEvents(int milliseconds) {
    if (milliseconds <= 0) {
        return;
    }
    if (installedWait) {
        installedWait(milliseconds);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void SetWaitFunction(std::function<void(int milliseconds)> wait) {
    installedWait = std::move(wait);
}
