// Session state and the step lifecycle of the platform components.
#include "platform/session.h"

#include <iostream>
#include <vector>

namespace velix::platform {
namespace {

struct Registered {
    const char* name;
    std::function<void()> begin;
    std::function<void()> end;
};

std::vector<Registered>& registry() {
    static std::vector<Registered> hooks;
    return hooks;
}

}  // namespace

Session& session() {
    static Session s = [] {
        Session init;
        init.listing = &std::cout;
        init.log = &std::cerr;
        return init;
    }();
    return s;
}

StepHooks::StepHooks(const char* name, std::function<void()> begin, std::function<void()> end) {
    registry().push_back({name, std::move(begin), std::move(end)});
}

void begin_step() {
    for (auto& r : registry())
        if (r.begin) r.begin();
}

void end_step() {
    // Reverse order: components registered later may hold objects of earlier ones.
    auto& hooks = registry();
    for (auto it = hooks.rbegin(); it != hooks.rend(); ++it)
        if (it->end) it->end();
}

}  // namespace velix::platform
