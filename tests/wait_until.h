// Waiting for what a test checks, under a generous ceiling, instead of
// sleeping a fixed time: a loaded machine is slow, not wrong.
#pragma once
#include <chrono>
#include <functional>
#include <thread>

constexpr std::chrono::milliseconds generous_ceiling{20000};

// Polls done() until it holds or the ceiling has passed; whether it holds.
inline bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds ceiling = generous_ceiling) {
    auto limit = std::chrono::steady_clock::now() + ceiling;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= limit) return done();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}
