#include "tools/client/ordered_work.h"

#include <algorithm>
#include <utility>

#include "tools/host/host.h"

namespace quarrow2::tool {
namespace {

// Results held per job before the caller waits: enough to keep every worker busy while one
// slow file holds up the front, few enough that a tree of any size costs the same memory.
constexpr size_t kHeldPerJob = 64;
// Results ready at the front before a waiting caller is woken to emit them.
constexpr size_t kWakeAfter = 16;

}  // namespace

unsigned DefaultJobs() {
    unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores;
}

OrderedWork::OrderedWork(unsigned jobs) : mostHeld_(kHeldPerJob * jobs) {
    if (jobs > 1)
        for (unsigned i = 0; i < jobs; ++i) workers_.emplace_back([this] { Work(); });
}

OrderedWork::~OrderedWork() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        waiting_.clear();
    }
    taskAdded_.notify_all();
    for (std::thread& worker : workers_) worker.join();
}

void OrderedWork::Work() {
    ThreadRuntime runtime;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        taskAdded_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
        if (stopping_) return;
        Slot* slot = waiting_.front();
        waiting_.pop_front();
        lock.unlock();
        Emit emit;
        std::exception_ptr error;
        try {
            emit = slot->task();
        } catch (...) {
            error = std::current_exception();
        }
        slot->task = nullptr;  // what it captured goes now, not when it is emitted
        lock.lock();
        slot->emit = std::move(emit);
        slot->error = error;
        slot->done = true;
        if (AwaitedReady()) taskDone_.notify_all();
    }
}

bool OrderedWork::AwaitedReady() const {
    if (awaited_ == 0) return false;
    for (size_t i = 0; i < awaited_; ++i)
        if (!order_[i].done) return false;
    return true;
}

void OrderedWork::EmitReady(std::unique_lock<std::mutex>& lock, size_t held) {
    for (;;) {
        if (!order_.empty() && order_.front().done) {
            Slot slot = std::move(order_.front());
            order_.pop_front();
            lock.unlock();
            if (slot.error) std::rethrow_exception(slot.error);
            if (slot.emit) slot.emit();
            lock.lock();
        } else if (order_.size() > held) {
            // Woken once a run of front results is ready rather than for each one: each
            // wake costs a switch between threads that outweighs a small file's work.
            awaited_ = std::min(kWakeAfter, order_.size());
            taskDone_.wait(lock, [this] { return AwaitedReady(); });
            awaited_ = 0;
        } else {
            return;
        }
    }
}

void OrderedWork::Add(Task task) {
    if (workers_.empty()) {
        if (Emit emit = task()) emit();
        return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    order_.emplace_back();
    order_.back().task = std::move(task);
    waiting_.push_back(&order_.back());
    taskAdded_.notify_one();
    EmitReady(lock, mostHeld_);
}

void OrderedWork::AddReady(Emit emit) {
    if (workers_.empty()) {
        if (emit) emit();
        return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    order_.emplace_back();
    order_.back().emit = std::move(emit);
    order_.back().done = true;
    EmitReady(lock, mostHeld_);
}

void OrderedWork::Finish() {
    if (workers_.empty()) return;
    std::unique_lock<std::mutex> lock(mutex_);
    EmitReady(lock, 0);
}

}  // namespace quarrow2::tool
