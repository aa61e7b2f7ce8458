#include "QuenfoldEditor/Utils/Platform/Linux/Test/SystemCallFailures.h"

#include <cerrno>
#include <mutex>
#include <utility>
#include <vector>

namespace QuenfoldEngine { namespace Platform { namespace Linux {

namespace {

struct Planned {
    System::Call call;
    std::size_t skip, times;
    int error;
    /* Instead of the error */
    std::function<void()> action;
};

struct Plan {
    std::mutex mutex;
    std::vector<Planned> calls;
};

Plan& plan() {
    static Plan instance;
    return instance;
}

}

void Test::failCall(const System::Call call, const int error, const std::size_t skip, const std::size_t times) {
    const std::lock_guard<std::mutex> lock{plan().mutex};
    plan().calls.push_back({call, skip, times, error, {}});
}

void Test::beforeCall(const System::Call call, std::function<void()> action, const std::size_t skip) {
    const std::lock_guard<std::mutex> lock{plan().mutex};
    plan().calls.push_back({call, skip, 1, 0, std::move(action)});
}

std::size_t Test::resetCalls() {
    const std::lock_guard<std::mutex> lock{plan().mutex};
    return std::exchange(plan().calls, {}).size();
}

/* Every plan for the call counts it; the first one whose turn it is says
   what happens */
bool System::failsNow(const Call call) {
    Plan& p = plan();
    std::function<void()> action;
    int error = 0;
    {
        const std::lock_guard<std::mutex> lock{p.mutex};
        for(auto i = p.calls.begin(); i != p.calls.end(); ) {
            if(i->call != call || (i->skip && i->skip--) || error || action) {
                ++i;
                continue;
            }
            error = i->error;
            action = std::move(i->action);
            i = --i->times ? i + 1 : p.calls.erase(i);
        }
    }
    if(action) action();
    if(!error) return false;
    errno = error;
    return true;
}

}}}
