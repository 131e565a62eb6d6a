// Instances in one process for tests: several managers over one block, each with its own pid,
// with the liveness of pids, the clock and the kernel objects under the test's control.
#pragma once

#include <cstdint>
#include <memory>
#include <set>

#include "platform/platform.h"

namespace vxo::test {

struct InstanceWorld {
    std::set<std::uint32_t> alive;
    std::uint64_t now = 1000;
    std::uint64_t nextObject = 0x100;  // kernel objects made so far, as handle values
    std::int32_t* generation = nullptr;
};

class FakeSync final : public platform::InstanceSync {
public:
    FakeSync(InstanceWorld& world, std::uint32_t pid) : world_(world), pid_(pid) { world.alive.insert(pid); }
    std::uint32_t CurrentPid() override { return pid_; }
    bool IsAlive(std::uint32_t pid) override { return world_.alive.count(pid) != 0; }
    void WatchOwner(std::uint32_t pid) override { watched_ = pid; }
    bool OwnerActive() override { return watched_ != 0 && IsAlive(watched_); }
    bool CreateObjects() override {
        if (mutex_ == 0) mutex_ = world_.nextObject++;
        if (event_ == 0) event_ = world_.nextObject++;
        return true;
    }
    void ObjectValues(std::uint64_t& mutexValue, std::uint64_t& eventValue) override {
        mutexValue = mutex_;
        eventValue = event_;
    }
    // Handle values stand for the objects themselves, so a duplicate is the same value.
    bool AdoptObjects(std::uint64_t mutexValue, std::uint64_t eventValue) override {
        if (!OwnerActive() || mutexValue == 0 || eventValue == 0) return false;
        mutex_ = mutexValue;
        event_ = eventValue;
        return true;
    }
    bool HasObjects() override { return mutex_ != 0 && event_ != 0; }
    void CloseObjects() override { mutex_ = event_ = 0; }
    std::uintptr_t Lock(std::uint32_t) override { return static_cast<std::uintptr_t>(mutex_); }
    void Unlock(std::uintptr_t) override {}
    // Wraps like the real counter: a block may hold any value there.
    void Pulse() override {
        *world_.generation = static_cast<std::int32_t>(static_cast<std::uint32_t>(*world_.generation) + 1u);
    }
    void Wait(std::int32_t, std::uint32_t) override {}
    void Interrupt() override {}
    std::uint64_t NowMs() override { return world_.now; }

    std::uint64_t mutex() const { return mutex_; }
    std::uint64_t event() const { return event_; }

private:
    InstanceWorld& world_;
    std::uint32_t pid_;
    std::uint32_t watched_ = 0;
    std::uint64_t mutex_ = 0;
    std::uint64_t event_ = 0;
};

}  // namespace vxo::test
