#include "platform/ScreenSize.h"

#include <mutex>
#include <utility>

namespace morph {

namespace {

std::mutex& ScreenMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<ScreenSize()>& ScreenFunction() {
    static std::function<ScreenSize()> function;
    return function;
}

} // namespace

void SetScreenSizeFunction(std::function<ScreenSize()> function) {
    const std::lock_guard lock(ScreenMutex());
    ScreenFunction() = std::move(function);
}

ScreenSize ScreenPixels() {
    std::function<ScreenSize()> function;
    {
        const std::lock_guard lock(ScreenMutex());
        function = ScreenFunction();
    }
    return function ? function() : kDefaultScreenSize;
}

} // namespace morph
